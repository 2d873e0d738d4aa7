#include "cli/PortList.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>

#include "tests/support/EnvGuard.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

void WriteFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text << '\n';
}

// A system as sysfs and udev lay it out: a UART (ttyS0, port type 4), a USB adapter (ttyUSB0)
// whose USB device two folders above its terminal carries its ids and strings, and the adapter's
// by-id link. The device nodes are FIFOs: opening one would block, so a listing that opened a
// device would never end.
class PortListTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(m_dir.Path().empty());
        const fs::path root = m_dir.Path();
        m_dirs = {(root / "class").string(), (root / "dev").string(), (root / "by-id").string(),
                  (root / "by-path").string()};
        const fs::path usb = root / "devices/usb1/1-1";
        WriteFile(usb / "idVendor", "0403");
        WriteFile(usb / "idProduct", "6001");
        WriteFile(usb / "manufacturer", "FTDI");
        WriteFile(usb / "product", "FT232R USB UART");
        WriteFile(usb / "serial", "A50285BI");
        fs::create_directories(usb / "1-1:1.0/ttyUSB0");
        WriteFile(root / "class/ttyS0/type", "4");
        fs::create_directories(root / "class/ttyUSB0");
        fs::create_directory_symlink(usb / "1-1:1.0", root / "class/ttyUSB0/device");
        fs::create_directories(root / "dev");
        ASSERT_EQ(mkfifo((root / "dev/ttyS0").c_str(), 0600), 0);
        ASSERT_EQ(mkfifo((root / "dev/ttyUSB0").c_str(), 0600), 0);
        fs::create_directories(root / "by-id");
        fs::create_symlink(root / "dev/ttyUSB0", root / "by-id" / kById);
        for (int n = 1; n <= 8; ++n) {
            m_env.Unset("QD7_COM" + std::to_string(n));
        }
    }

    std::string List(OutputFormat format) {
        FILE* out = std::tmpfile();
        EXPECT_NE(out, nullptr);
        CReadingWriter writer(out, format, false);
        EXPECT_EQ(ListPorts(writer, format, m_dirs), 0);
        std::rewind(out);
        std::string text;
        for (int c; (c = std::fgetc(out)) != EOF;) {
            text += static_cast<char>(c);
        }
        std::fclose(out);
        return text;
    }

    static constexpr const char* kById = "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    CTempDir m_dir;
    CEnvGuard m_env;
    PortDirectories m_dirs;
};

TEST_F(PortListTest, ListsEachComPortWithItsAdapterInEveryFormat) {
    const std::string dev = m_dirs.devices;
    EXPECT_EQ(List(OutputFormat::Text),
              "COM1  " + dev +
                  "/ttyS0\n"
                  "COM2  " +
                  dev +
                  "/ttyUSB0  0403:6001  FTDI  FT232R USB UART  serial A50285BI\n"
                  "      by-id " +
                  kById + "\n");
    EXPECT_EQ(List(OutputFormat::Csv),
              "port,source,path,device,by_id,usb_id,manufacturer,product,serial,friendly_name,"
              "hardware_id\n"
              "COM1,system," +
                  dev + "/ttyS0," + dev +
                  "/ttyS0,,,,,,,\n"
                  "COM2,system," +
                  m_dirs.byId + "/" + kById + "," + dev + "/ttyUSB0," + kById +
                  ",0403:6001,FTDI,FT232R USB UART,A50285BI,,\n");
    const std::string json = List(OutputFormat::Json);
    EXPECT_NE(
        json.find("{\"port\":\"COM2\",\"source\":\"system\",\"path\":\"" + m_dirs.byId + "/" +
                  kById + "\",\"device\":\"" + dev + "/ttyUSB0\",\"by_id\":\"" + kById +
                  "\",\"usb_id\":\"0403:6001\",\"manufacturer\":\"FTDI\",\"product\":\"FT232R "
                  "USB UART\",\"serial\":\"A50285BI\",\"friendly_name\":\"\",\"hardware_id\":"
                  "\"\"}\n"),
        std::string::npos)
        << json;
}

// A port the user named wins, as in the window program; a device server's port is not looked up.
TEST_F(PortListTest, APortNamedInTheEnvironmentSaysSo) {
    m_env.Set("QD7_COM3", "rfc2217://gw:4001");
    const std::string text = List(OutputFormat::Text);
    EXPECT_NE(text.find("COM3  network  (QD7_COM3=rfc2217://gw:4001)\n"), std::string::npos)
        << text;
}

} // namespace
