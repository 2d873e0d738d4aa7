// The USB ids and serial number of a port's adapter, as Windows writes them in instance ids.

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "serial/UsbInstanceId.h"

namespace {

TEST(UsbInstanceId, SerialNumberOnlyWhereTheDeviceHasOne) {
    struct Case {
        const char* id;
        bool bUsb;
        const char* vendor;
        const char* product;
        const char* serial;
        bool bInterface;
    };
    const Case cases[] = {
        {"USB\\VID_0403&PID_6001\\A50285BI", true, "0403", "6001", "A50285BI", false},
        {"usb\\vid_067b&pid_2303\\5&2A1B3C4D&0&2", true, "067b", "2303", "", false}, // made up
        {"USB\\VID_2341&PID_0043&MI_00\\6&1F2E3D4C&0&0000", true, "2341", "0043", "", true},
        {"USB\\VID_10C4&PID_EA60\\0001", true, "10C4", "EA60", "0001", false},
        {"FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000", false, "", "", "", false},
        {"ACPI\\PNP0501\\1", false, "", "", "", false},
        {"USB\\ROOT_HUB30\\4&2B3C&0&0", false, "", "", "", false},
        {"USB\\VID_0403&PID_60\\X", false, "", "", "", false}, // ids cut short
    };
    for (const Case& c : cases) {
        const std::optional<UsbInstance> usb = ParseUsbInstanceId(c.id);
        ASSERT_EQ(usb.has_value(), c.bUsb) << c.id;
        if (usb) {
            EXPECT_EQ(usb->vendorId, c.vendor) << c.id;
            EXPECT_EQ(usb->productId, c.product) << c.id;
            EXPECT_EQ(usb->serialNumber, c.serial) << c.id;
            EXPECT_EQ(usb->bInterface, c.bInterface) << c.id;
        }
    }
    // A driver of its own keeps the ids in the port's hardware id, apart by "+".
    EXPECT_EQ(UsbIdAfter("FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000", "PID_"), "6001");
    EXPECT_EQ(UsbIdAfter("ACPI\\PNP0501", "VID_"), "");
}

} // namespace
