// Malformed documents and unwritable values: every failure is a ModelCodingError naming the key.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "coding_test_support.h"
#include "model/json_text.h"
#include "model/project_coding.h"

namespace kestio {
namespace {

using test::documentWithSlots;
using test::failingKeyPath;

struct Malformed {
    const char* what;
    std::string document;
    std::string keyPath;
};

void PrintTo(const Malformed& item, std::ostream* out) {
    *out << item.what;
}

// `count` copies of `item`, comma-separated.
std::string repeated(const std::string& item, std::size_t count) {
    std::string text;
    text.reserve((item.size() + 1) * count);
    for (std::size_t i = 0; i < count; ++i) {
        text += i == 0 ? "" : ",";
        text += item;
    }
    return text;
}

std::vector<Malformed> malformedDocuments() {
    const std::string bank = R"({"name": "B", "slots": []})";
    const std::string fullBank = R"({"name": "B", "slots": [)" + repeated("{}", 10000) + "]}";
    return {
        // The root and the banks.
        {"root is an array", "[]", ""},
        {"root is null", "null", ""},
        {"root is a string", R"("banks")", ""},
        {"banks missing", R"({"version": 1})", "banks"},
        {"banks null", R"({"banks": null})", "banks"},
        {"banks an object", R"({"banks": {}})", "banks"},
        {"bank null", R"({"banks": [null]})", "banks[0]"},
        {"bank without name", R"({"banks": [{"slots": []}]})", "banks[0].name"},
        {"bank name a number", R"({"banks": [{"name": 1, "slots": []}]})", "banks[0].name"},
        {"second bank without slots", R"({"banks": [)" + bank + R"(, {"name": "C"}]})",
         "banks[1].slots"},
        {"bank slots null", R"({"banks": [{"name": "B", "slots": null}]})", "banks[0].slots"},
        {"slot not an object", R"({"banks": [)" + bank + R"(, {"name": "C", "slots": [{}, []]}]})",
         "banks[1].slots[1]"},
        {"more banks than a project can hold", R"({"banks": [)" + repeated(bank, 1001) + "]}",
         "banks"},
        {"a bank larger than the largest grid",
         R"({"banks": [)" + bank + R"(, {"name": "C", "slots": [)" + repeated("{}", 10001) + "]}]}",
         "banks[1].slots"},
        {"more slots than twenty banks of the largest grid",
         R"({"banks": [)" + repeated(fullBank, 20) + R"(, {"name": "B", "slots": [{}]}]})",
         "banks"},
        {"version a string", R"({"version": "1", "banks": []})", "version"},
        {"version fractional", R"({"version": 1.5, "banks": []})", "version"},
        {"rows negative", R"({"rows": -1, "banks": []})", "rows"},
        {"columns huge", R"({"columns": 4000000000, "banks": []})", "columns"},
        {"grid too large", R"({"rows": 5000, "columns": 5000, "banks": []})", "columns"},
        {"rows out of the integer range", R"({"rows": 1e300, "banks": []})", "rows"},
        {"resolution as case name",
         R"({"outputSettings": {"resolution": "hd1080p", "frameRate": "30"}, "banks": []})",
         "outputSettings.resolution"},
        {"frame rate with extra zero",
         R"({"outputSettings": {"resolution": "1920x1080p", "frameRate": "29.970"}, "banks": []})",
         "outputSettings.frameRate"},
        {"frame rate as number",
         R"({"outputSettings": {"resolution": "1920x1080p", "frameRate": 30}, "banks": []})",
         "outputSettings.frameRate"},
        {"output settings without frame rate",
         R"({"outputSettings": {"resolution": "1920x1080p"}, "banks": []})",
         "outputSettings.frameRate"},
        {"monitor without screen name",
         R"({"externalMonitorSettings": {"isEnabled": false, "screenIndex": 0, "width": 1, "height": 1}, "banks": []})",
         "externalMonitorSettings.screenName"},
        {"monitor flag as number",
         R"({"externalMonitorSettings": {"isEnabled": 0, "screenIndex": 0, "screenName": "", "width": 1, "height": 1}, "banks": []})",
         "externalMonitorSettings.isEnabled"},
        {"thumbnails bookmark not Base64", R"({"banks": [], "thumbnailsFolderBookmark": "===="})",
         "thumbnailsFolderBookmark"},
        {"assignments an object", R"({"banks": [], "midiControlAssignments": {}})",
         "midiControlAssignments"},
        {"assignment without target",
         R"({"banks": [], "midiControlAssignments": [{"target": "play", "channel": 1, "note": 2}, {"channel": 1, "note": 2}]})",
         "midiControlAssignments[1].target"},
        {"midi input as string", R"({"banks": [], "midiInputEnabled": "true"})",
         "midiInputEnabled"},
        {"follow jump as number", R"({"banks": [], "followJumpEnabled": 0})", "followJumpEnabled"},

        // Of several faults, the first in writing order is reported, whatever the text order.
        {"first faulty root key", R"({"followJumpEnabled": 1, "banks": [null], "rows": -5})",
         "rows"},
        {"faulty slot before a faulty root key",
         R"({"banks": [{"name": "B", "slots": [{"mediaType": 0}]}], "rows": -5})", "rows"},
        {"faulty slot before its bank's faulty name",
         R"({"banks": [{"slots": [{"mediaType": 0}], "name": 5}]})", "banks[0].name"},
        {"faulty slot before a later bank over its slot limit",
         R"({"banks": [{"name": "B", "slots": [{"mediaType": 0}]}, {"name": "C", "slots": [)" +
             repeated("{}", 10001) + "]}]}",
         "banks[1].slots"},
        {"faulty slot in a bank over its slot limit",
         R"({"banks": [{"name": "B", "slots": [{"mediaType": 0}, )" + repeated("{}", 10000) +
             "]}]}",
         "banks[0].slots"},
    };
}

class MalformedDocument : public ::testing::TestWithParam<Malformed> {};

TEST_P(MalformedDocument, FailsNamingTheKeyPath) {
    const Malformed& item = GetParam();
    EXPECT_EQ(failingKeyPath([&] { decodeProject(item.document); }), item.keyPath);
}

INSTANTIATE_TEST_SUITE_P(Cases, MalformedDocument, ::testing::ValuesIn(malformedDocuments()));

TEST(MalformedDocument, DocumentsAtTheLimitsAreRead) {
    const std::string emptyBanks = repeated(R"({"name": "B", "slots": []})", 999);
    const ProjectData project =
        decodeProject(R"({"banks": [)" + emptyBanks + R"(, {"name": "C", "slots": [)" +
                      repeated("{}", 10000) + "]}]}");
    ASSERT_EQ(project.banks.size(), 1000u);
    EXPECT_EQ(project.banks[999].slots.size(), 10000u);
}

TEST(MalformedDocument, OfDuplicateMembersTheLastIsRead) {
    const ProjectData project = decodeProject(R"({"banks": [{"name": "A", "slots": []}],
        "banks": [{"name": "B", "slots": [{"mediaType": 0}], "slots": [{"name": "s"}]},
                  {"name": "C", "slots": "none", "slots": []}]})");
    ASSERT_EQ(project.banks.size(), 2u);
    EXPECT_EQ(project.banks[0].name, "B");
    ASSERT_EQ(project.banks[0].slots.size(), 1u);
    EXPECT_EQ(project.banks[0].slots[0].name, "s");
    EXPECT_TRUE(project.banks[1].slots.empty());
    EXPECT_EQ(failingKeyPath(
                  [] { decodeProject(R"({"banks": [{"name": "B", "slots": [], "slots": 5}]})"); }),
              "banks[0].slots");
}

TEST(MalformedDocument, ErrorTextNamesKeyAndReason) {
    try {
        decodeProject(documentWithSlots(R"({}, [2])"));
        FAIL() << "no error";
    } catch (const ModelCodingError& error) {
        EXPECT_EQ(error.keyPath(), "banks[0].slots[1]");
        EXPECT_EQ(std::string(error.what()),
                  "banks[0].slots[1]: expected an object, found an array");
    }
    try {
        decodeProject(R"({"outputSettings": {"resolution": "4k", "frameRate": "30"},
                          "banks": []})");
        FAIL() << "no error";
    } catch (const ModelCodingError& error) {
        EXPECT_EQ(std::string(error.what()), "outputSettings.resolution: unknown value \"4k\"");
    }
    try {
        decodeProject(R"({"banks": [{"slots": []}]})");
        FAIL() << "no error";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()), "banks[0].name: required member is missing");
    }
}

struct Unreadable {
    const char* what;
    std::string text;
};

void PrintTo(const Unreadable& item, std::ostream* out) {
    *out << item.what;
}

std::vector<Unreadable> unreadableTexts() {
    const std::string valid = documentWithSlots(R"({"name": "x", "playRate": 2})");
    return {
        {"empty", ""},
        {"white space only", " \n\t"},
        {"plain words", "banks"},
        {"truncated object", "{"},
        {"truncated document", valid.substr(0, valid.size() / 2)},
        {"document missing its last brace", valid.substr(0, valid.size() - 1)},
        {"trailing text", valid + " x"},
        {"two documents", valid + valid},
        {"trailing comma", R"({"banks": [],})"},
        {"single quotes", "{'banks': []}"},
        {"comment", "{\"banks\": [] /* none */}"},
        {"unquoted key", "{banks: []}"},
        {"NaN literal", documentWithSlots(R"({"playRate": NaN})")},
        {"Infinity literal", documentWithSlots(R"({"playRate": Infinity})")},
        {"number overflowing a double", documentWithSlots(R"({"playRate": 1e400})")},
        {"hexadecimal number", documentWithSlots(R"({"playRate": 0x10})")},
        {"leading zero", documentWithSlots(R"({"playRate": 01})")},
        {"control character in string", documentWithSlots("{\"name\": \"a\x01z\"}")},
        {"invalid UTF-8 byte", documentWithSlots("{\"name\": \"caf\xE9\"}")},
        {"overlong UTF-8", documentWithSlots("{\"name\": \"\xC0\xAF\"}")},
        {"UTF-8 surrogate", documentWithSlots("{\"name\": \"\xED\xA0\x80\"}")},
        {"truncated UTF-8", documentWithSlots("{\"name\": \"\xE3\x81\"}")},
        {"lone escaped surrogate", documentWithSlots(R"({"name": "\ud800"})")},
        {"reversed escaped surrogates", documentWithSlots(R"({"name": "\udc00\ud800"})")},
        {"bad escape", documentWithSlots(R"({"name": "\q"})")},
        {"short unicode escape", documentWithSlots(R"({"name": "\u12"})")},
        {"NUL byte", std::string("{\"banks\": [\0]}", 14)},
        {"deeply nested arrays", std::string(100000, '[')},
        {"deeply nested closed arrays", std::string(100000, '[') + std::string(100000, ']')},
        {"deeply nested objects",
         [] {
             std::string text;
             for (int i = 0; i < 100000; ++i) {
                 text += "{\"a\":";
             }
             return text;
         }()},
        {"nesting one past the limit inside an unknown member",
         R"({"banks": [], "x": )" + std::string(kMaxJsonNesting, '[') +
             std::string(kMaxJsonNesting, ']') + "}"},
    };
}

class UnreadableText : public ::testing::TestWithParam<Unreadable> {};

TEST_P(UnreadableText, FailsWithoutAKeyPath) {
    const std::string text = GetParam().text;
    EXPECT_EQ(failingKeyPath([&] { decodeProject(text); }), "");
}

INSTANTIATE_TEST_SUITE_P(Cases, UnreadableText, ::testing::ValuesIn(unreadableTexts()));

TEST(UnreadableText, ReasonSaysWhy) {
    try {
        decodeProject("{\"banks\": [");
        FAIL() << "no error";
    } catch (const ModelCodingError& error) {
        EXPECT_EQ(std::string(error.what()).rfind("not valid JSON: ", 0), 0u) << error.what();
    }
    try {
        decodeProject(std::string(100000, '['));
        FAIL() << "no error";
    } catch (const ModelCodingError& error) {
        EXPECT_NE(std::string(error.what()).find("nested deeper"), std::string::npos);
    }
}

// ---- writing ----------------------------------------------------------------------------------

TEST(UnwritableValue, NonFiniteNumbersFailNamingTheKey) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const float fnan = std::numeric_limits<float>::quiet_NaN();
    const float finf = std::numeric_limits<float>::infinity();

    const auto pathFor = [](auto change) {
        ProjectData project(2, 2);
        change(project);
        return failingKeyPath([&] { encodeProject(project); });
    };
    EXPECT_EQ(pathFor([&](ProjectData& p) { p.banks[0].slots[1].playRate = nan; }),
              "banks[0].slots[1].playRate");
    EXPECT_EQ(pathFor([&](ProjectData& p) { p.banks[19].slots[3].outPoint = -inf; }),
              "banks[19].slots[3].outPoint");
    EXPECT_EQ(pathFor([&](ProjectData& p) { p.banks[2].slots[0].colorSettings.gamma = finf; }),
              "banks[2].slots[0].colorSettings.gamma");
    EXPECT_EQ(pathFor([&](ProjectData& p) { p.banks[1].slots[2].equalizer.khz1_25 = fnan; }),
              "banks[1].slots[2].equalizer.khz1_25");
    EXPECT_EQ(pathFor([&](ProjectData& p) {
                  p.banks[0].slots[0].audioSettings.channelLevels[7] = -finf;
              }),
              "banks[0].slots[0].audioSettings.channelLevels[7]");
    EXPECT_EQ(pathFor([&](ProjectData& p) { p.banks[0].slots[0].geometry.posY = nan; }),
              "banks[0].slots[0].geometry.posY");
    EXPECT_EQ(pathFor([&](ProjectData& p) {
                  p.banks[5].slots[1].clipInfo = ClipInfo{};
                  p.banks[5].slots[1].clipInfo->sourceModifiedAt = nan;
              }),
              "banks[5].slots[1].clipInfo.sourceModifiedAt");
    EXPECT_EQ(pathFor([&](ProjectData& p) { p.externalMonitorSettings.width = inf; }),
              "externalMonitorSettings.width");
}

TEST(UnwritableValue, TextThatIsNotUtf8FailsNamingTheKey) {
    ProjectData project(1, 2);
    project.banks[3].slots[1].name = "clip\xC3";
    EXPECT_EQ(failingKeyPath([&] { encodeProject(project); }), "banks[3].slots[1].name");

    project.banks[3].slots[1].name = "ok \xF0\x9F\x8E\xAC";
    project.banks[0].name = "\xED\xA0\x80";
    EXPECT_EQ(failingKeyPath([&] { encodeProject(project); }), "banks[0].name");

    project.banks[0].name = "B";
    project.midiControlAssignments = {{"play\xFF", 1, 1}};
    EXPECT_EQ(failingKeyPath([&] { encodeProject(project); }), "midiControlAssignments[0].target");
}

TEST(UnwritableValue, WhatTheReaderWouldRefuseIsNotWritten) {
    const auto pathFor = [](auto change) {
        ProjectData project(1, 1);
        change(project);
        return failingKeyPath([&] { encodeProject(project); });
    };
    EXPECT_EQ(pathFor([](ProjectData& p) { p.rows = -1; }), "rows");
    EXPECT_EQ(pathFor([](ProjectData& p) { p.columns = 10001; }), "columns");
    EXPECT_EQ(pathFor([](ProjectData& p) { p.rows = p.columns = 101; }), "columns");
    EXPECT_EQ(pathFor([](ProjectData& p) { p.banks.resize(1001); }), "banks");
    EXPECT_EQ(pathFor([](ProjectData& p) { p.banks[3].slots.resize(10001); }), "banks[3].slots");
}

TEST(UnwritableValue, SingleSlotErrorsUseTheGivenPrefix) {
    SlotData slot;
    slot.dissolveDuration = std::numeric_limits<double>::infinity();
    EXPECT_EQ(failingKeyPath([&] { encodeSlot(slot); }), "dissolveDuration");
    EXPECT_EQ(failingKeyPath([&] { encodeSlot(slot, "clipboard[2]"); }),
              "clipboard[2].dissolveDuration");
    EXPECT_EQ(failingKeyPath([&] { decodeSlot(nlohmann::json::array()); }), "");
    EXPECT_EQ(failingKeyPath([&] { decodeSlot(nlohmann::json("slot"), "pasted"); }), "pasted");
}

}  // namespace
}  // namespace kestio
