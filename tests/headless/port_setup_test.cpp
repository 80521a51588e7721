// The port map of one run: the order in which numbers are given out, the
// resolution of --dte/--dce, the virtual and demo ports, and the errors.
// Discovery runs on an empty fake sysfs tree, so the machine's own serial
// devices never change the numbers.

#include "headless/port_setup.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/temp_dir.h"

namespace ostrel::headless {
namespace {

using platform::test::TempDir;

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

    TempDir dir_;
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
    Options o;
    o.portMappings = {{9, target}};
    o.dte = target;
    o.dce = dir_ / "alias";
    const PortSetupResult r = build(o);
    ASSERT_TRUE(r.setup) << r.error;
    EXPECT_EQ(r.setup->dte, 9);
    EXPECT_EQ(r.setup->dce, 9);
    EXPECT_EQ(r.setup->map.entries().size(), 1u);
}

TEST_F(PortSetupTest, ComNamesResolveWithoutBeingMapped) {
    Options o;
    o.dte = "COM7";
    o.dce = "com12";
    const PortSetupResult r = build(o);
    ASSERT_TRUE(r.setup) << r.error;
    EXPECT_EQ(r.setup->dte, 7);
    EXPECT_EQ(r.setup->dce, 12);
    EXPECT_TRUE(r.setup->map.entries().empty());
}

TEST_F(PortSetupTest, NoPortGivenLeavesTheSidesAtZero) {
    const PortSetupResult r = build(Options{});
    ASSERT_TRUE(r.setup) << r.error;
    EXPECT_EQ(r.setup->dte, 0);
    EXPECT_EQ(r.setup->dce, 0);
}

TEST_F(PortSetupTest, VirtualPortsKeepTheirNumbersAndPathsGoAroundThem) {
    Options o;
    o.virtualPorts = {{1, dir_ / "v1"}, {2, {}}};
    o.dte = "/dev/ttyX0";
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
    struct stat st {};
    EXPECT_EQ(::lstat((dir_ / "v1").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST_F(PortSetupTest, TheLinksGoAwayWithTheSetup) {
    Options o;
    o.virtualPorts = {{4, dir_ / "v4"}};
    {
        const PortSetupResult r = build(o);
        ASSERT_TRUE(r.setup) << r.error;
    }
    struct stat st {};
    EXPECT_NE(::lstat((dir_ / "v4").c_str(), &st), 0);
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

TEST_F(PortSetupTest, DemoInAnEmulationTalksToTheOtherDevice) {
    Options o;
    o.demo = true;
    o.mode = engine::kDteEmulation;
    PortSetupResult r = build(o);
    ASSERT_TRUE(r.setup) << r.error;
    EXPECT_EQ(r.setup->dte, r.setup->demo->dceDevicePort);  // we are the terminal: the modem answers

    o.mode = engine::kDceEmulation;
    r = build(o);
    ASSERT_TRUE(r.setup) << r.error;
    EXPECT_EQ(r.setup->dce, r.setup->demo->dteDevicePort);  // we are the modem: the terminal talks

    o.mode = engine::kFullDuplex;  // each tap on the line of the device it is named after
    r = build(o);
    ASSERT_TRUE(r.setup) << r.error;
    EXPECT_EQ(r.setup->dte, r.setup->demo->dteDevicePort);
    EXPECT_EQ(r.setup->dce, r.setup->demo->dceDevicePort);
}

TEST_F(PortSetupTest, PortsNamedByTheOperatorWinOverTheDemoPorts) {
    Options o;
    o.demo = true;
    o.mode = engine::kIntercede;
    o.dte = "COM9";
    const PortSetupResult r = build(o);
    ASSERT_TRUE(r.setup) << r.error;
    EXPECT_EQ(r.setup->dte, 9);
    EXPECT_EQ(r.setup->dce, r.setup->demo->dteDevicePort);
}

struct SetupErrorCase {
    const char* what;
    std::function<void(Options&, const std::string& dir)> configure;
    const char* option;
};

class SetupErrors : public PortSetupTest, public ::testing::WithParamInterface<SetupErrorCase> {};

TEST_P(SetupErrors, NameTheOptionAndGiveExitCodeTwo) {
    Options o;
    GetParam().configure(o, dir_.path());
    const PortSetupResult r = build(o);
    EXPECT_FALSE(r.setup);
    EXPECT_EQ(r.exitCode, kExitBadOption);
    EXPECT_EQ(r.error.rfind(GetParam().option, 0), 0u) << r.error;
}

INSTANTIATE_TEST_SUITE_P(Table, SetupErrors,
                         ::testing::Values(SetupErrorCase{"number twice",
                                                          [](Options& o, const std::string&) {
                                                              o.portMappings = {{2, "/dev/a"}, {2, "/dev/b"}};
                                                          },
                                                          "--port: "},
                                           SetupErrorCase{"path twice",
                                                          [](Options& o, const std::string&) {
                                                              o.portMappings = {{2, "/dev/a"}, {3, "/dev/a"}};
                                                          },
                                                          "--port: "},
                                           SetupErrorCase{"virtual on a mapped number",
                                                          [](Options& o, const std::string& d) {
                                                              o.portMappings = {{2, "/dev/a"}};
                                                              o.virtualPorts = {{2, d + "/v"}};
                                                          },
                                                          "--virtual: "},
                                           SetupErrorCase{"virtual twice",
                                                          [](Options& o, const std::string& d) {
                                                              o.virtualPorts = {{5, d + "/v"}, {5, d + "/w"}};
                                                          },
                                                          "--virtual: "},
                                           SetupErrorCase{"link over a plain file",
                                                          [](Options& o, const std::string& d) {
                                                              std::ofstream(d + "/plain").put('x');
                                                              o.virtualPorts = {{5, d + "/plain"}};
                                                          },
                                                          "--virtual: "},
                                           SetupErrorCase{"link in a missing folder",
                                                          [](Options& o, const std::string& d) {
                                                              o.virtualPorts = {{5, d + "/none/v"}};
                                                          },
                                                          "--virtual: "}),
                         [](const auto& info) {
                             std::string name = info.param.what;
                             for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return name;
                         });

TEST_F(PortSetupTest, PathsGetNoNumberWhenAllAreTaken) {
    Options o;
    for (int n = 1; n <= 64; ++n) o.portMappings.push_back({n, "/dev/fake" + std::to_string(n)});
    o.dce = "/dev/one-too-many";
    const PortSetupResult r = build(o);
    EXPECT_FALSE(r.setup);
    EXPECT_EQ(r.error.rfind("--dce: ", 0), 0u) << r.error;
}

}  // namespace
}  // namespace ostrel::headless
