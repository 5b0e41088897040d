#include <gtest/gtest.h>

#include "qkdec/PasswordEntry.h"

namespace qk {
namespace {

using State = PasswordEntry::State;

// Feeds the keys and returns the echo they produced.
std::string Type(PasswordEntry& entry, std::initializer_list<int> keys) {
    for (int key : keys) entry.Feed(key);
    return entry.TakeEcho();
}

TEST(PasswordEntry, MasksEveryByteAndEndsOnEitherEnterKey) {
    for (int enter : {13, 10}) {
        PasswordEntry entry("Pass", false);
        EXPECT_EQ(Type(entry, {'a', 0xE0, 'H'}), "***");  // a cursor key is two masked codes
        EXPECT_EQ(entry.Feed(enter), State::kEntered);
        EXPECT_EQ(entry.TakeEcho(), "");
        EXPECT_EQ(entry.typed(), "a\xE0H");
        EXPECT_EQ(entry.Feed('x'), State::kEntered);  // nothing after the end
    }
}

TEST(PasswordEntry, BackspaceRewritesTheLineShorter) {
    for (int backspace : {8, 127}) {
        PasswordEntry entry("Pass", false);
        EXPECT_EQ(Type(entry, {backspace}), "");  // nothing to remove: no echo
        EXPECT_EQ(Type(entry, {'a', 'b', 'c', backspace}), "***\rPass?:**");
        EXPECT_EQ(Type(entry, {'d', 13}), "*");
        EXPECT_EQ(entry.typed(), "abd");
    }
}

TEST(PasswordEntry, BackspaceRemovesAWholeUtf8Character) {
    PasswordEntry entry("P", true);
    Type(entry, {'a', 0xE8, 0xA1, 0xA8, 8});  // a, then U+8868 (3 bytes), removed
    EXPECT_EQ(entry.typed(), "a");
    PasswordEntry bytes("P", false);
    Type(bytes, {'a', 0xE8, 0xA1, 0xA8, 8});
    EXPECT_EQ(bytes.typed(), "a\xE8\xA1");
}

TEST(PasswordEntry, EscOrEndOfInputGivesTheEmptyText) {
    PasswordEntry esc("P", false);
    Type(esc, {'a', 'b'});
    EXPECT_EQ(esc.Feed(27), State::kCancelled);
    EXPECT_EQ(esc.TakeEcho(), "\n");
    EXPECT_EQ(esc.typed(), "");
    PasswordEntry ended("P", false);
    Type(ended, {'a'});
    EXPECT_EQ(ended.Feed(-1), State::kCancelled);
    EXPECT_EQ(ended.typed(), "");
}

}  // namespace
}  // namespace qk
