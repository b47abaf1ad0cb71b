// Mutated documents: whatever the damage, reading either succeeds with a project that writes and
// reads back unchanged, or fails with a ModelCodingError; it never crashes or throws anything else.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "coding_test_support.h"
#include "model/json_text.h"
#include "model/project_coding.h"

namespace kestio {
namespace {

using test::readTestDocument;

enum class Outcome { read, refused };

Outcome readMutated(const std::string& text) {
    ProjectData project;
    try {
        project = decodeProject(text);
    } catch (const ModelCodingError&) {
        return Outcome::refused;
    } catch (const std::exception& error) {
        ADD_FAILURE() << "unexpected exception " << error.what() << " for:\n" << text;
        return Outcome::refused;
    }
    // A document that reads holds only finite numbers and valid text, so it always writes again.
    const std::string written = encodeProject(project);
    const ProjectData reread = decodeProject(written);
    EXPECT_EQ(reread, project) << text;
    EXPECT_EQ(encodeProject(reread), written);
    return Outcome::read;
}

class MutatedDocument : public ::testing::Test {
  protected:
    // Our own rendering of the foreign-style document, which touches every kind of member.
    std::string base_ = encodeProject(decodeProject(readTestDocument("foreign_style.json")));
    std::mt19937 random_{20240229};

    std::size_t position(std::size_t size) {
        return std::uniform_int_distribution<std::size_t>(0, size)(random_);
    }
};

TEST_F(MutatedDocument, ByteFlipsTruncationsAndInsertionsNeverCrash) {
    static const std::vector<std::string> fragments = {
        "{",    "}",        "[",    "]",     "\"",  ",",   ":",       "null",
        "true", "-",        "1e9",  "1e999", "0.5", "\\u", "\\ud800", "\xFF",
        "\xC3", "\xF0\x9F", "{}",   "[]",    " ",   "\\",  "\"x\":",  "9223372036854775808",
        "-1",   "1.5",      "\"\"", "\0"};
    int read = 0;
    int refused = 0;
    for (int round = 0; round < 4000; ++round) {
        std::string text = base_;
        const int edits = 1 + round % 3;
        for (int e = 0; e < edits; ++e) {
            switch (random_() % 5) {
                case 0:  // flip one byte
                    if (!text.empty()) {
                        text[position(text.size() - 1)] = static_cast<char>(random_() & 0xFF);
                    }
                    break;
                case 1:  // truncate
                    text.resize(position(text.size()));
                    break;
                case 2: {  // insert a fragment
                    const std::string& fragment = fragments[random_() % fragments.size()];
                    text.insert(position(text.size()),
                                fragment.empty() ? std::string(1, '\0') : fragment);
                    break;
                }
                case 3: {  // delete a short range
                    const std::size_t at = position(text.size());
                    text.erase(at, random_() % 16);
                    break;
                }
                default: {  // duplicate a short range somewhere else
                    const std::size_t from = position(text.size());
                    const std::string piece = text.substr(from, random_() % 40);
                    text.insert(position(text.size()), piece);
                    break;
                }
            }
        }
        (readMutated(text) == Outcome::read ? read : refused)++;
    }
    // Both outcomes occur, so the loop exercises the readers as well as the parser.
    EXPECT_GT(read, 0);
    EXPECT_GT(refused, 0);
}

struct Member {
    nlohmann::json::json_pointer pointer;
    std::string keyPath;  // "banks[0].slots[1].name" for "/banks/0/slots/1/name"
};

void collectMembers(const nlohmann::json& value, const Member& at, std::vector<Member>& out) {
    out.push_back(at);
    if (value.is_object()) {
        for (const auto& item : value.items()) {
            collectMembers(item.value(),
                           {at.pointer / item.key(),
                            at.keyPath.empty() ? item.key() : at.keyPath + "." + item.key()},
                           out);
        }
    } else if (value.is_array()) {
        for (std::size_t i = 0; i < value.size(); ++i) {
            collectMembers(value[i], {at.pointer / i, at.keyPath + "[" + std::to_string(i) + "]"},
                           out);
        }
    }
}

bool isAtOrBelow(const std::string& path, const std::string& member) {
    if (member.empty() || path == member) {
        return true;
    }
    return path.rfind(member, 0) == 0 && (path[member.size()] == '.' || path[member.size()] == '[');
}

TEST_F(MutatedDocument, ReplacedValuesFailAtOrBelowTheReplacedMember) {
    const nlohmann::json document = parseJsonText(base_);
    std::vector<Member> members;
    collectMembers(document, Member{nlohmann::json::json_pointer(), ""}, members);

    const std::vector<nlohmann::json> replacements = {
        nullptr, true, "x", 1.5, -1, 0, nlohmann::json::array(), nlohmann::json::object(), 1e300};
    for (const Member& member : members) {
        for (const nlohmann::json& replacement : replacements) {
            nlohmann::json mutated = document;
            mutated[member.pointer] = replacement;
            try {
                decodeProject(mutated.dump());
            } catch (const ModelCodingError& error) {
                EXPECT_TRUE(isAtOrBelow(error.keyPath(), member.keyPath))
                    << "replacing " << member.pointer.to_string() << " with " << replacement.dump()
                    << " failed at " << error.keyPath();
            }
        }
    }
}

}  // namespace
}  // namespace kestio
