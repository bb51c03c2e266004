// varnex records' rows in its three forms, byte for byte, for a completed row and one never
// completed: scripts and spreadsheets read them as they are.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cli/records/RecordsOutput.h"

namespace {

using cli::RecordsFormat;

std::vector<records::Row> TwoRows() {
    records::Row done;
    done.id = 41;
    done.startedAt = "2026-12-08T06:18:09.123Z";
    done.endedAt = "2026-12-08T06:25:13.456Z";
    done.station = "bench-3";
    done.port = "/dev/ttyUSB0";
    done.operation = "software";
    done.image = "V410_2_AXIS_SOFTWARE";
    done.imageSize = 4402584;
    done.imageSha256 = "3f1c";
    done.baud = 115200;
    done.bytesSent = 112640;
    done.result = records::kFailed;
    done.reason = "the unit said \"no\", twice";
    done.durationMs = 424333;
    done.unit = 10;
    done.version = "1.1.1";
    done.device = "/dev/ttyUSB0";
    done.serial = "A1234567";
    records::Row cut = done;
    cut.id = 42;
    cut.endedAt.clear();
    cut.port = "fixture 2";
    cut.device = "COM3";
    cut.bytesSent = 0;
    cut.result = records::kInterrupted;
    cut.reason.clear();
    cut.durationMs = 0;
    cut.unit = 2;
    cut.serial.clear();
    return {done, cut};
}

std::string Rows(RecordsFormat format) {
    std::ostringstream out;
    cli::WriteRows(out, TwoRows(), format);
    return out.str();
}

}  // namespace

TEST(CliRecordsOutput, RowsAreWrittenByteForByteInEachForm) {
    EXPECT_EQ(Rows(RecordsFormat::Table), "STARTED (UTC)             STATION  PORT          UNIT  SERIAL    IMAGE      "
                                          "           BYTES   TIME  RESULT       "
                                          "REASON\n"
                                          "2026-12-08T06:18:09.123Z  bench-3  /dev/ttyUSB0  10    A1234567  "
                                          "V410_2_AXIS_SOFTWARE  112640  7:04  failed       "
                                          "the unit said \"no\", twice\n"
                                          "2026-12-08T06:18:09.123Z  bench-3  fixture 2     2               "
                                          "V410_2_AXIS_SOFTWARE  0       -     interrupted  "
                                          "\n");
    EXPECT_EQ(Rows(RecordsFormat::Csv),
              "id,started_at,ended_at,station,port,operation,image,image_size,image_sha256,baud,bytes_sent,result,"
              "reason,duration_ms,unit,varnex_version,device,serial\r\n"
              "41,2026-12-08T06:18:09.123Z,2026-12-08T06:25:13.456Z,bench-3,/dev/ttyUSB0,software,V410_2_AXIS_SOFTWARE,"
              "4402584,3f1c,115200,112640,failed,\"the unit said \"\"no\"\", "
              "twice\",424333,10,1.1.1,/dev/ttyUSB0,A1234567\r\n"
              "42,2026-12-08T06:18:09.123Z,,bench-3,fixture 2,software,V410_2_AXIS_SOFTWARE,4402584,3f1c,115200,0,"
              "interrupted,,0,2,1.1.1,COM3,\r\n");
    EXPECT_EQ(
        Rows(RecordsFormat::Json),
        "{\"baud\":115200,\"bytes_sent\":112640,\"device\":\"/dev/"
        "ttyUSB0\",\"duration_ms\":424333,\"ended_at\":\"2026-12-08T06:25:13.456Z\","
        "\"id\":41,\"image\":\"V410_2_AXIS_SOFTWARE\",\"image_sha256\":\"3f1c\",\"image_size\":4402584,"
        "\"operation\":\"software\",\"port\":\"/dev/ttyUSB0\",\"reason\":\"the unit said \\\"no\\\", twice\","
        "\"result\":\"failed\",\"serial\":\"A1234567\",\"started_at\":\"2026-12-08T06:18:09.123Z\",\"station\":\"bench-"
        "3\",\"unit\":10,"
        "\"varnex_version\":\"1.1.1\"}\n"
        "{\"baud\":115200,\"bytes_sent\":0,\"device\":\"COM3\",\"duration_ms\":0,\"ended_at\":null,\"id\":42,"
        "\"image\":\"V410_2_AXIS_SOFTWARE\",\"image_sha256\":\"3f1c\",\"image_size\":4402584,"
        "\"operation\":\"software\",\"port\":\"fixture 2\",\"reason\":\"\",\"result\":\"interrupted\",\"serial\":\"\","
        "\"started_at\":\"2026-12-08T06:18:09.123Z\",\"station\":\"bench-3\",\"unit\":2,\"varnex_version\":\"1.1."
        "1\"}\n");
}

// The summary's first-pass yield in each form; a group with no serial has none, not 0 %.
TEST(CliRecordsOutput, TheSummaryCarriesUnitsAndFirstPassYieldInEachForm) {
    records::DaySummary serials{"2026-12-08", "bench-3", "fixture 1", 4, 1, 60000, 4, 3};
    records::DaySummary none{"2026-12-08", "bench-3", "fixture 2", 2, 0, 61000, 0, 0};
    auto write = [&](RecordsFormat format) {
        std::ostringstream out;
        cli::WriteDaySummaries(out, {serials, none}, format);
        return out.str();
    };
    EXPECT_EQ(write(RecordsFormat::Csv), "day,station,port,loaded,failed,median_ms,units,first_pass_yield\r\n"
                                         "2026-12-08,bench-3,fixture 1,4,1,60000,4,0.7500\r\n"
                                         "2026-12-08,bench-3,fixture 2,2,0,61000,0,\r\n");
    const std::string table = write(RecordsFormat::Table);
    EXPECT_NE(table.find("UNITS  FIRST PASS\n"), std::string::npos) << table;
    EXPECT_NE(table.find("4      75.0%\n"), std::string::npos) << table;
    EXPECT_NE(table.find("0      -\n"), std::string::npos) << table;
    const std::string json = write(RecordsFormat::Json);
    EXPECT_NE(json.find("\"first_pass_yield\":0.75,"), std::string::npos) << json;
    EXPECT_NE(json.find("\"first_pass_yield\":null,"), std::string::npos) << json;
}
