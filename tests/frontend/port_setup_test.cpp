// The port map of one run: the order in which numbers are given out, the
// resolution of --dte/--dce, the virtual and demo ports, and the errors.
// Discovery runs on an empty fake sysfs tree, so the machine's own serial
// devices never change the numbers.

#include "frontend/port_setup.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/temp_dir.h"

namespace ostrel::frontend {
namespace {

bool isLink(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

class PortSetupTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.valid());
        std::filesystem::create_directories(dir_ / "sys/class/tty");
        std::filesystem::create_directories(dir_ / "dev");
        env_.sysfsRoot = dir_ / "sys";
        env_.devRoot = dir_ / "dev";
        env_.runtimeDir = dir_.path();
    }
    PortSetupResult build(const Options& options) { return BuildPortSetup(options, env_); }

    platform::test::TempDir dir_;
    PortEnvironment env_;
};

TEST_F(PortSetupTest, ExplicitMappingsComeFirstAndPathsTakeTheLowestFreeNumbers) {
    Options o;
    o.portMappings = {{1, "/dev/ttyUSB7"}, {3, "/dev/ttyACM2"}};
    o.dte = "/dev/ttyX0";
    o.dce = "/dev/ttyX1";
    const PortSetupResult r = build(o);
    ASSERT_TRUE(r.setup) << r.error;
    EXPECT_EQ(r.setup->dte, 2);
    EXPECT_EQ(r.setup->dce, 4);
    ASSERT_NE(r.setup->map.find(2), nullptr);
    EXPECT_EQ(r.setup->map.find(2)->path, "/dev/ttyX0");
    EXPECT_EQ(r.setup->map.find(1)->path, "/dev/ttyUSB7");
}

TEST_F(PortSetupTest, APathAlreadyMappedKeepsItsNumberAlsoThroughALink) {
    const std::string target = dir_ / "dev/ttyUSB0";
    std::ofstream(target).put('x');
    ASSERT_EQ(::symlink(target.c_str(), (dir_ / "alias").c_str()), 0);
    for (const std::string& path : {target, dir_ / "alias"}) {
        Options o;
        o.portMappings = {{9, target}};
        o.dce = path;
        const PortSetupResult r = build(o);
        ASSERT_TRUE(r.setup) << r.error;
        EXPECT_EQ(r.setup->dce, 9);
        EXPECT_EQ(r.setup->map.entries().size(), 1u);
    }
}

TEST_F(PortSetupTest, ComNamesResolveWithoutBeingMappedAndNoNameLeavesZero) {
    Options o;
    o.dte = "COM7";
    o.dce = "com12";
    PortSetupResult r = build(o);
    ASSERT_TRUE(r.setup) << r.error;
    EXPECT_EQ(r.setup->dte, 7);
    EXPECT_EQ(r.setup->dce, 12);
    EXPECT_TRUE(r.setup->map.entries().empty());
    r = build(Options{});
    ASSERT_TRUE(r.setup) << r.error;
    EXPECT_EQ(r.setup->dte, 0);
    EXPECT_EQ(r.setup->dce, 0);
}

TEST_F(PortSetupTest, VirtualPortsKeepTheirNumbersPathsGoAroundThemAndTheLinksGoWithTheSetup) {
    Options o;
    o.virtualPorts = {{1, dir_ / "v1"}, {2, {}}};
    o.dte = "/dev/ttyX0";
    {
        const PortSetupResult r = build(o);
        ASSERT_TRUE(r.setup) << r.error;
        EXPECT_EQ(r.setup->dte, 3);
        ASSERT_NE(r.setup->map.find(1), nullptr);
        EXPECT_EQ(r.setup->map.find(1)->path, dir_ / "v1");
        ASSERT_NE(r.setup->map.find(1)->virtualPort, nullptr);
        // Without a link path the link goes into the runtime directory.
        ASSERT_NE(r.setup->map.find(2), nullptr);
        EXPECT_EQ(r.setup->map.find(2)->path.rfind(dir_.path() + "/", 0), 0u) << r.setup->map.find(2)->path;
        EXPECT_EQ(r.setup->virtualPorts.size(), 2u);
        EXPECT_TRUE(isLink(dir_ / "v1"));
    }
    EXPECT_FALSE(isLink(dir_ / "v1"));
}

TEST_F(PortSetupTest, DemoPortsTakeTheLowestFreeNumbersAndFaceEachOtherInIntercede) {
    Options o;
    o.demo = true;
    o.mode = engine::kIntercede;
    o.portMappings = {{1, "/dev/ttyUSB0"}};
    o.virtualPorts = {{3, dir_ / "v3"}};
    const PortSetupResult r = build(o);
    ASSERT_TRUE(r.setup) << r.error;
    ASSERT_TRUE(r.setup->demo);
    EXPECT_EQ(r.setup->demo->dceDevicePort, 2);
    EXPECT_EQ(r.setup->demo->dteDevicePort, 4);
    EXPECT_EQ(r.setup->demo->dteDeviceLink, dir_ / "ostrel-demo-dte");
    EXPECT_EQ(r.setup->demo->dceDeviceLink, dir_ / "ostrel-demo-dce");
    // The DTE side faces the modem, so its answers read " DCE ->> ".
    EXPECT_EQ(r.setup->dte, 2);
    EXPECT_EQ(r.setup->dce, 4);
}

TEST_F(PortSetupTest, DemoInTheOtherModesAndPortsNamedByTheOperator) {
    Options o;
    o.demo = true;
    o.mode = engine::kDteEmulation;
    PortSetupResult r = build(o);
    ASSERT_TRUE(r.setup) << r.error;
    EXPECT_EQ(r.setup->dte, r.setup->demo->dceDevicePort);  // we are the terminal: the modem answers

    o.mode = engine::kDceEmulation;
    r.setup.reset();  // a run's demo links are its own while it lasts
    r = build(o);
    ASSERT_TRUE(r.setup) << r.error;
    EXPECT_EQ(r.setup->dce, r.setup->demo->dteDevicePort);  // we are the modem: the terminal talks

    o.mode = engine::kFullDuplex;  // each tap on the line of the device it is named after
    r.setup.reset();
    r = build(o);
    ASSERT_TRUE(r.setup) << r.error;
    EXPECT_EQ(r.setup->dte, r.setup->demo->dteDevicePort);
    EXPECT_EQ(r.setup->dce, r.setup->demo->dceDevicePort);

    o.mode = engine::kIntercede;
    o.dte = "COM9";  // a port the operator names wins over the demo port
    r.setup.reset();
    r = build(o);
    ASSERT_TRUE(r.setup) << r.error;
    EXPECT_EQ(r.setup->dte, 9);
    EXPECT_EQ(r.setup->dce, r.setup->demo->dteDevicePort);
}

Options withPorts(std::vector<PortMapping> mapped, std::vector<VirtualRequest> virtualPorts = {}) {
    Options o;
    o.portMappings = std::move(mapped);
    o.virtualPorts = std::move(virtualPorts);
    return o;
}

TEST_F(PortSetupTest, ErrorsNameTheOptionAndGiveExitCodeTwo) {
    const std::string d = dir_.path();
    std::ofstream(d + "/plain").put('x');
    Options allTaken;
    for (int n = 1; n <= 64; ++n) allTaken.portMappings.push_back({n, "/dev/fake" + std::to_string(n)});
    allTaken.dce = "/dev/one-too-many";
    const std::pair<Options, const char*> table[] = {
        {withPorts({{2, "/dev/a"}, {2, "/dev/b"}}), "--port: "},  // a number twice
        {withPorts({{2, "/dev/a"}, {3, "/dev/a"}}), "--port: "},  // a path twice
        {withPorts({{2, "/dev/a"}}, {{2, d + "/v"}}), "--virtual: "},
        {withPorts({}, {{5, d + "/v"}, {5, d + "/w"}}), "--virtual: "},
        {withPorts({}, {{5, d + "/plain"}}), "--virtual: "},   // a link over a plain file
        {withPorts({}, {{5, d + "/none/v"}}), "--virtual: "},  // a link in a missing folder
        {allTaken, "--dce: "},                                 // no number left for a path
    };
    for (const auto& [options, option] : table) {
        const PortSetupResult r = build(options);
        SCOPED_TRACE(r.error);
        EXPECT_FALSE(r.setup);
        EXPECT_EQ(r.exitCode, kExitBadOption);
        EXPECT_EQ(r.error.rfind(option, 0), 0u);
    }
}

TEST_F(PortSetupTest, TheSamePortForBothSidesIsRefusedHoweverItIsNamed) {
    const std::string device = dir_ / "dev/ttyFAKE";
    std::ofstream(device).put('x');
    const std::string link = dir_ / "link-to-device";
    ASSERT_EQ(::symlink(device.c_str(), link.c_str()), 0);
    Options byName = withPorts({{3, device}});
    byName.dte = "COM3";
    byName.dce = "com3";
    Options byPath = withPorts({{3, device}});
    byPath.dte = "COM3";
    byPath.dce = link;
    Options twoPaths;
    twoPaths.dte = device;
    twoPaths.dce = device;
    for (const Options& options : {byName, byPath, twoPaths}) {
        const PortSetupResult r = build(options);
        EXPECT_FALSE(r.setup);
        EXPECT_EQ(r.exitCode, kExitBadOption);
        const std::string com = twoPaths.dte == options.dte ? "COM1" : "COM3";
        EXPECT_EQ(r.error, "--dte and --dce name the same port (" + com + ")");
    }
}

TEST_F(PortSetupTest, AVirtualPortLinkNeverReplacesTheOperatorsOwnLink) {
    std::filesystem::create_symlink("/dev/null", dir_ / "mine");
    Options o;
    o.virtualPorts = {{5, dir_ / "mine"}};
    {
        const PortSetupResult r = build(o);
        EXPECT_FALSE(r.setup);
        EXPECT_EQ(r.exitCode, kExitBadOption);
        EXPECT_EQ(r.error, "--virtual: " + (dir_ / "mine") +
                               ": a symbolic link to /dev/null is in the way (not replaced)");
    }
    EXPECT_EQ(std::filesystem::read_symlink(dir_ / "mine").string(),
              "/dev/null");  // also after the setup ended
}

}  // namespace
}  // namespace ostrel::frontend
