/* SPDX-License-Identifier: MIT OR GPL-2.0 */
/*
 * The hubs Brennic takes: vendor and product ID pairs handed in at load time,
 * never compiled in, so a production station drives exactly the hubs that its
 * configuration lists.
 */
#ifndef BRENNIC_IDS_H
#define BRENNIC_IDS_H

#include <linux/types.h>

/* 64 configuration entries, each with a SuperSpeed and a High-Speed product. */
#define BRENNIC_MAX_IDS 128

struct brennic_id {
	u16 vendor;
	u16 product;
};

struct brennic_id_table {
	unsigned int count;
	struct brennic_id ids[BRENNIC_MAX_IDS];
};

/*
 * Parses "vvvv:pppp[,vvvv:pppp...]" (hexadecimal, blanks and a trailing
 * newline allowed). Returns 0 or -EINVAL for a malformed list and -E2BIG for
 * one longer than the table.
 */
int brennic_parse_ids(const char *text, struct brennic_id_table *table);

bool brennic_table_has(const struct brennic_id_table *table, u16 vendor,
		       u16 product);

#endif
