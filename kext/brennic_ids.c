// SPDX-License-Identifier: MIT OR GPL-2.0
#include <linux/ctype.h>
#include <linux/errno.h>
#include <linux/kernel.h>
#include <linux/string.h>

#include "brennic_ids.h"

#define BRENNIC_HEX_DIGITS 4

static const char *skip_blanks(const char *text)
{
	while (*text == ' ' || *text == '\t' || *text == '\n')
		text++;
	return text;
}

/* Reads one to four hexadecimal digits; anything longer is not a 16-bit ID. */
static const char *parse_hex16(const char *text, u16 *value)
{
	unsigned int digits = 0;
	u16 result = 0;

	while (isxdigit(*text)) {
		if (++digits > BRENNIC_HEX_DIGITS)
			return NULL;
		result = (result << 4) | hex_to_bin(*text);
		text++;
	}
	if (digits == 0)
		return NULL;
	*value = result;
	return text;
}

int brennic_parse_ids(const char *text, struct brennic_id_table *table)
{
	struct brennic_id id;

	table->count = 0;
	text = skip_blanks(text);
	while (*text != '\0') {
		text = parse_hex16(text, &id.vendor);
		if (!text || *text != ':')
			return -EINVAL;
		text = parse_hex16(text + 1, &id.product);
		if (!text)
			return -EINVAL;
		if (table->count == BRENNIC_MAX_IDS)
			return -E2BIG;
		table->ids[table->count++] = id;
		text = skip_blanks(text);
		if (*text == ',')
			text = skip_blanks(text + 1);
		else if (*text != '\0')
			return -EINVAL;
	}
	return 0;
}

bool brennic_table_has(const struct brennic_id_table *table, u16 vendor,
		       u16 product)
{
	unsigned int index;

	for (index = 0; index < table->count; index++) {
		if (table->ids[index].vendor == vendor &&
		    table->ids[index].product == product)
			return true;
	}
	return false;
}
