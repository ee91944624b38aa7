// SPDX-License-Identifier: MIT OR GPL-2.0
/*
 * Brennic holds a supported hub for a firmware update. It binds to the hub's
 * USB device itself, not to an interface, and never selects a configuration:
 * without a configuration there are no interfaces, so the hub driver has
 * nothing to take and stops talking to the hub. The update program then opens
 * the device node through usbfs and sends its vendor requests on endpoint 0,
 * which needs no configuration at all.
 */
#include <linux/device.h>
#include <linux/module.h>
#include <linux/moduleparam.h>
#include <linux/usb.h>

#include "brennic_ids.h"

#define BRENNIC_NAME "brennic"
#define BRENNIC_IDS_TEXT_BYTES 1400 /* 128 pairs of "vvvv:pppp," and some blanks */

static char ids[BRENNIC_IDS_TEXT_BYTES];
module_param_string(ids, ids, sizeof(ids), 0444);
MODULE_PARM_DESC(ids, "Hubs to hold, as vid:pid pairs in hexadecimal separated by commas");

static struct brennic_id_table supported;

static bool brennic_supports(struct usb_device *udev)
{
	return brennic_table_has(&supported,
				 le16_to_cpu(udev->descriptor.idVendor),
				 le16_to_cpu(udev->descriptor.idProduct));
}

/*
 * Autosuspend is switched off here, before the device is claimed, because the
 * probe comes too late: once the generic driver lets go of a hub, the hub
 * suspends at once, and as this driver has no suspend and resume of its own
 * the USB core cannot wake it again. It would stay suspended and deaf to the
 * update program's requests.
 */
static bool brennic_match(struct usb_device *udev)
{
	if (!brennic_supports(udev))
		return false;
	usb_disable_autosuspend(udev);
	return true;
}

static int brennic_probe(struct usb_device *udev)
{
	dev_info(&udev->dev, "held for firmware update\n");
	return 0;
}

static void brennic_disconnect(struct usb_device *udev)
{
	usb_enable_autosuspend(udev);
	dev_info(&udev->dev, "released\n");
}

static struct usb_device_driver brennic_driver = {
	.name = BRENNIC_NAME,
	.match = brennic_match,
	.probe = brennic_probe,
	.disconnect = brennic_disconnect,
};

static bool brennic_holds(struct usb_device *udev)
{
	return udev->dev.driver &&
	       to_usb_device_driver(udev->dev.driver) == &brennic_driver;
}

/* Hubs enumerated before the module loaded are driven by the generic driver. */
static int brennic_take_over(struct usb_device *udev, void *unused)
{
	int error;

	if (brennic_holds(udev) || !brennic_supports(udev))
		return 0;
	error = device_reprobe(&udev->dev);
	if (error)
		dev_warn(&udev->dev, "could not be taken over (error %d)\n", error);
	return 0;
}

/*
 * The driver core does not look for a new driver for a device whose driver
 * went away, so the hubs released at unload are handed back explicitly; the
 * generic driver then configures them and the hub driver takes them again.
 */
static int brennic_hand_back(struct usb_device *udev, void *unused)
{
	int result;

	if (udev->dev.driver || !brennic_supports(udev))
		return 0;
	result = device_attach(&udev->dev);
	if (result < 0)
		dev_warn(&udev->dev, "could not be handed back (error %d)\n", result);
	return 0;
}

static int __init brennic_init(void)
{
	int error;

	error = brennic_parse_ids(ids, &supported);
	if (error) {
		pr_err(BRENNIC_NAME ": the ids parameter \"%s\" is not a list of vid:pid pairs\n", ids);
		return error;
	}
	if (supported.count == 0) {
		pr_err(BRENNIC_NAME ": no hub IDs given (ids=vid:pid,...)\n");
		return -EINVAL;
	}
	error = usb_register_device_driver(&brennic_driver, THIS_MODULE);
	if (error)
		return error;
	usb_for_each_dev(NULL, brennic_take_over);
	return 0;
}

static void __exit brennic_exit(void)
{
	usb_deregister_device_driver(&brennic_driver);
	usb_for_each_dev(NULL, brennic_hand_back);
}

module_init(brennic_init);
module_exit(brennic_exit);

MODULE_DESCRIPTION("Holds a Zelo Hub for a firmware update");
MODULE_AUTHOR("Velmora");
MODULE_VERSION("1.0.0d1");
MODULE_LICENSE("Dual MIT/GPL");
