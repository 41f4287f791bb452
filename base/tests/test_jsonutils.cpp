#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "LogCapture.h"
#include "norvale/JsonUtils.h"

using namespace norvale;
namespace fs = std::filesystem;

namespace {

MatrixData matrix(int rows, int cols, int type, std::vector<double> data) {
    MatrixData m;
    m.rows = rows;
    m.cols = cols;
    m.type = type;
    m.data = std::move(data);
    return m;
}

CalibratorParameters fullParams() {
    CalibratorParameters p;
    p.cameraSerial = "SIM-FUSION-7";
    p.dvsFrameCols = 1280;
    p.dvsFrameRows = 720;
    p.apsFrameCols = 3840;
    p.apsFrameRows = 2160;
    p.cameraMatrix = matrix(3, 3, 6, {1000.5, 0, 640, 0, 1000.25, 360, 0, 0, 1});
    p.distCoeffs = matrix(1, 5, 6, {-0.1, 0.01, 0, 0, 0.001});
    p.affineMatrix["1"] = matrix(2, 3, 6, {3, 0, 0, 0, 3, 0});
    p.affineMatrix["0"] = matrix(2, 3, 6, {1.0 / 3, 0, 0, 0, 1.0 / 3, 0});
    p.rotation = {0.1, 0.2, 0.3};
    p.translation = {1, 2, 3};
    return p;
}

void expectSameMatrix(const MatrixData& a, const MatrixData& b) {
    EXPECT_EQ(a.rows, b.rows);
    EXPECT_EQ(a.cols, b.cols);
    EXPECT_EQ(a.type, b.type);
    EXPECT_EQ(a.data, b.data);
}

std::vector<unsigned char> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

std::string readFile(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct JsonUtilsTest : ::testing::Test {
    void SetUp() override {
        dir = fs::temp_directory_path() / ("norvale_json_" + std::to_string(getpid()) + "_" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(dir);
    }
    fs::path dir;
    LogCapture capture;
};

const char* kValidDvsPart = R"("0": {"camera_serial": "S1", "frame_size": {"cols": 1280, "rows": 720},
    "camera_matrix": {}, "dist_coeffs": {"rows": 1, "cols": 2, "type": 6, "data": [0.5, 1.5]}})";

} // namespace

TEST_F(JsonUtilsTest, RoundTripRestoresEveryField) {
    auto written = fullParams();
    const auto path = (dir / "calib.json").string();
    ASSERT_TRUE(paramToJsonFile(written, path));
    CalibratorParameters read;
    ASSERT_TRUE(jsonFileToParam(path, read));
    EXPECT_EQ(read.cameraSerial, written.cameraSerial);
    EXPECT_EQ(read.dvsFrameCols, 1280);
    EXPECT_EQ(read.dvsFrameRows, 720);
    EXPECT_EQ(read.apsFrameCols, 3840);
    EXPECT_EQ(read.apsFrameRows, 2160);
    expectSameMatrix(read.cameraMatrix, written.cameraMatrix);
    expectSameMatrix(read.distCoeffs, written.distCoeffs);
    ASSERT_EQ(read.affineMatrix.size(), 2u);
    expectSameMatrix(read.affineMatrix["1"], written.affineMatrix["1"]);
    expectSameMatrix(read.affineMatrix["0"], written.affineMatrix["0"]);
    EXPECT_EQ(read.rotation, written.rotation);
    EXPECT_EQ(read.translation, written.translation);
    EXPECT_EQ(capture.text(), "info|Camera Serial: SIM-FUSION-7\ninfo|Dvs Resolution: 1280, 720\n"
                              "info|Aps Resolution: 3840, 2160\n");
}

TEST_F(JsonUtilsTest, WrittenLayoutIsSortedIndentedAndNullsEmptyParts) {
    CalibratorParameters p;
    p.cameraSerial = "X";
    const auto path = dir / "empty.json";
    ASSERT_TRUE(paramToJsonFile(p, path.string()));
    const std::string text = readFile(path);
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(text.substr(0, 15), "{\n    \"0\": {\n  ");
    const auto j = nlohmann::json::parse(text);
    EXPECT_TRUE(j["0"]["affine_matrix"].is_null());
    EXPECT_TRUE(j["1"]["affine_matrix"].is_null());
    EXPECT_TRUE(j["0"]["rotation"].is_null());
    EXPECT_TRUE(j["0"]["translation"].is_null());
    EXPECT_TRUE(j["0"]["frame_size"]["cols"].is_number_unsigned());
    EXPECT_EQ(j["0"]["camera_matrix"], (nlohmann::json{{"cols", 0}, {"data", nlohmann::json::array()}, {"rows", 0}, {"type", 0}}));
    EXPECT_LT(text.find("\"affine_matrix\""), text.find("\"camera_matrix\""));
}

TEST_F(JsonUtilsTest, OnlyTheTargetEntryIsWrittenUnderEachCamera) {
    CalibratorParameters p = fullParams();
    p.affineMatrix.erase("0");
    const auto path = dir / "one.json";
    ASSERT_TRUE(paramToJsonFile(p, path.string()));
    const auto j = nlohmann::json::parse(readFile(path));
    EXPECT_TRUE(j["0"]["affine_matrix"].contains("1"));
    EXPECT_TRUE(j["1"]["affine_matrix"].is_null());
}

TEST_F(JsonUtilsTest, FailedWriteReportsFalseAndKeepsTheOldFile) {
    auto p = fullParams();
    const auto path = dir / "calib.json";
    ASSERT_TRUE(paramToJsonFile(p, path.string()));
    const std::string good = readFile(path);

    // A folder that does not exist.
    capture.clear();
    EXPECT_FALSE(paramToJsonFile(p, (dir / "missing" / "x.json").string()));
    EXPECT_NE(capture.text().find("error|Error: open "), std::string::npos) << capture.text();

    // A full disk: a file size limit makes every write past 64 bytes fail, even for root.
    {
        struct rlimit old {};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
        auto previous = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = old;
        small.rlim_cur = 64;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        capture.clear();
        p.cameraSerial = "changed";
        const bool written = paramToJsonFile(p, path.string());
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, previous);
        EXPECT_FALSE(written);
        EXPECT_NE(capture.text().find("error|Error: write " + path.string() + " failed"), std::string::npos)
            << capture.text();
    }
    // A folder where the file should be.
    fs::create_directory(dir / "folder.json");
    EXPECT_FALSE(paramToJsonFile(p, (dir / "folder.json").string()));
    fs::remove(dir / "folder.json");

    EXPECT_EQ(readFile(path), good);
    // No temporary file is left behind.
    int files = 0;
    for (const auto& entry : fs::directory_iterator(dir)) files += entry.is_regular_file();
    EXPECT_EQ(files, 1);
}

TEST_F(JsonUtilsTest, ReadFailures) {
    CalibratorParameters p;
    EXPECT_FALSE(jsonFileToParam((dir / "nothing.json").string(), p));
    EXPECT_EQ(capture.text(), "error|Error: open " + (dir / "nothing.json").string() + " failed.\n");
    capture.clear();
    EXPECT_FALSE(jsonFileToParam(dir.string(), p)); // a folder opens but cannot be read
    EXPECT_EQ(capture.text(), "error|Error: read " + dir.string() + " failed.\n");
}

TEST_F(JsonUtilsTest, MissingMembersFailWithTheirMessages) {
    struct Case {
        std::string json;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"[1, 2]", "Error: No camera with ID '0' found in calibration data.\n"},
        {R"({"1": {}})", "Error: No camera with ID '0' found in calibration data.\n"},
        {R"({"0": {"frame_size": {"cols": 1, "rows": 1}}})", "Error: Missing or invalid 'camera_serial' field.\n"},
        {R"({"0": {"camera_serial": "S"}})", "Error: Missing 'frame_size' field.\n"},
        {R"({"0": {"camera_serial": "S", "frame_size": {"cols": 1}}})", "Error: Invalid 'frame_size' in JSON.\n"},
        {R"({"0": {"camera_serial": "S", "frame_size": {"cols": 1, "rows": 2}}})", "Error: Missing 'camera_matrix'.\n"},
        {R"({"0": {"camera_serial": "S", "frame_size": {"cols": 1, "rows": 2}, "camera_matrix": {}}})",
         "Error: Missing 'dist_coeffs'.\n"},
        {std::string("{") + kValidDvsPart + R"(, "1": {"frame_size": {"rows": 2}}})", "Error: Invalid 'frame_size' in JSON.\n"},
    };
    for (const auto& c : cases) {
        capture.clear();
        CalibratorParameters p;
        auto bytes = bytesOf(c.json);
        EXPECT_FALSE(jsonDataToParam(bytes, p)) << c.json;
        const std::string text = capture.text();
        EXPECT_NE(text.find("error|" + c.message), std::string::npos) << c.json << " -> " << text;
    }
}

TEST_F(JsonUtilsTest, MissingApsCameraKeepsDvsPart) {
    CalibratorParameters p;
    auto bytes = bytesOf(std::string("{") + kValidDvsPart + "}");
    EXPECT_FALSE(jsonDataToParam(bytes, p));
    EXPECT_EQ(capture.text(), "info|Camera Serial: S1\ninfo|Dvs Resolution: 1280, 720\n"
                              "error|Error: Missing 'frame_size' field.\n\n");
    EXPECT_EQ(p.cameraSerial, "S1");
    EXPECT_EQ(p.dvsFrameCols, 1280);
    // An empty camera matrix object reads as zeros without data.
    EXPECT_EQ(p.cameraMatrix.rows, 0);
    EXPECT_EQ(p.cameraMatrix.cols, 0);
    EXPECT_EQ(p.cameraMatrix.type, 0);
    EXPECT_TRUE(p.cameraMatrix.data.empty());
    EXPECT_EQ(p.distCoeffs.data, (std::vector<double>{0.5, 1.5}));
}

TEST_F(JsonUtilsTest, AffineEntriesReplaceSameKey) {
    CalibratorParameters p;
    p.affineMatrix["1"] = matrix(9, 9, 9, {9});
    p.affineMatrix["7"] = matrix(1, 1, 1, {1});
    auto bytes = bytesOf(std::string("{") + kValidDvsPart +
                         R"(, "0x": 1, "1": {"frame_size": {"cols": 2, "rows": 3}, "affine_matrix": null}})");
    // The DVS part has no affine matrix; give it one.
    std::string text(bytes.begin(), bytes.end());
    text.replace(text.find("\"camera_matrix\""), 0, R"("affine_matrix": {"1": {"rows": 2, "cols": 3, "data": [1,2,3,4,5,6]}}, )");
    bytes = bytesOf(text);
    ASSERT_TRUE(jsonDataToParam(bytes, p));
    EXPECT_EQ(p.affineMatrix["1"].rows, 2);
    EXPECT_EQ(p.affineMatrix["1"].type, 0);
    EXPECT_EQ(p.affineMatrix["1"].data.size(), 6u);
    EXPECT_EQ(p.affineMatrix["7"].rows, 1); // untouched
    EXPECT_EQ(p.apsFrameRows, 3);
}

TEST_F(JsonUtilsTest, WrongTypesRaiseTheLibraryException) {
    const std::vector<std::string> bad = {
        "not json",
        "",
        R"({"0": {"camera_serial": 5, "frame_size": {"cols": 1, "rows": 1}}})",
        R"({"0": {"camera_serial": "S", "frame_size": {"cols": "wide", "rows": 1}}})",
        R"({"0": {"camera_serial": "S", "frame_size": {"cols": 1e300, "rows": 1}}})",
        std::string("{") + kValidDvsPart + R"(, "1": {"frame_size": {"cols": -1e20, "rows": 1}}})",
        R"({"0": {"camera_serial": "S", "frame_size": {"cols": 1, "rows": 1}, "camera_matrix": [], "dist_coeffs": {}}})",
        R"({"0": {"camera_serial": "S", "frame_size": {"cols": 1, "rows": 1}, "camera_matrix": {"rows": 1e99}, "dist_coeffs": {}}})",
        R"({"0": {"camera_serial": "S", "frame_size": {"cols": 1, "rows": 1}, "camera_matrix": {}, "dist_coeffs": {}, "rotation": 3}})",
    };
    for (const auto& text : bad) {
        CalibratorParameters p;
        auto bytes = bytesOf(text);
        EXPECT_THROW(jsonDataToParam(bytes, p), nlohmann::json::exception) << text;
    }
}

TEST_F(JsonUtilsTest, NeverReplacesAFifoAndLeavesNoTemporary) {
    auto p = fullParams();
    const auto fifo = dir / "calib.json";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    capture.clear();
    EXPECT_FALSE(paramToJsonFile(p, fifo.string()));
    EXPECT_NE(capture.text().find("output " + fifo.string() + " is a FIFO, not a regular file"), std::string::npos)
        << capture.text();
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator{}), 1);
}
