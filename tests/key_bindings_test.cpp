#include "ui/key_bindings.hpp"

#include <gtest/gtest.h>

#include <iterator>
#include <set>
#include <span>
#include <string>

#include <curses.h>

#include "ui/status_bar.hpp"

namespace {

// The rows of the key table, without the row that closes it.
std::span<const KeyBinding> bound_rows() {
    return {key_table, std::size(key_table) - 1};
}

TEST(KeyBindings, EachKeyIsBoundOnceToACommand) {
    EXPECT_EQ(std::end(key_table)[-1].key, 0);
    std::set<int> keys;
    for (const KeyBinding& row : bound_rows()) {
        EXPECT_TRUE(keys.insert(row.key).second) << "key " << row.key << " is bound twice";
        EXPECT_NE(row.command, Command::None) << "key " << row.key;
        EXPECT_EQ(key_to_command(row.key), row.command) << "key " << row.key;
    }
}

// The highest command code: the commands are 1 to this one, and None.
constexpr int last_command = static_cast<int>(Command::Undo);

TEST(KeyBindings, EveryCommandIsReachableFromAKey) {
    for (int code = 1; code <= last_command; ++code) {
        const auto command = static_cast<Command>(code);
        EXPECT_EQ(key_to_command(command_to_key(command)), command) << "command " << code;
    }
}

TEST(KeyBindings, KeysTheUsersRelyOn) {
    EXPECT_EQ(key_to_command('q'), Command::Quit);
    // The keypad's Enter, which the terminal tests cannot send.
    EXPECT_EQ(key_to_command(KEY_ENTER), Command::OpenFolder);
}

TEST(KeyBindings, UnboundKeysAndTimeoutsGiveNone) {
    for (const int key :
         std::initializer_list<int>{ERR, 0, 'Q', 'G', '\n', KEY_RESIZE, KEY_F(2), 27, ' ', 'x'}) {
        EXPECT_EQ(key_to_command(key), Command::None) << "key " << key;
    }
}

TEST(KeyBindings, CommandToKeyGivesTheFirstRowsKey) {
    EXPECT_EQ(command_to_key(Command::Quit), 'q');
    EXPECT_EQ(command_to_key(Command::Help), '?');
    EXPECT_EQ(command_to_key(Command::OpenFolder), 'g');
    EXPECT_EQ(command_to_key(Command::Up), 'k');
    EXPECT_EQ(command_to_key(Command::Last), KEY_RIGHT);
    EXPECT_EQ(command_to_key(Command::First), KEY_LEFT);
    EXPECT_EQ(command_to_key(Command::None), '?');
}

TEST(KeyBindings, CommandCodesAreFixed) {
    EXPECT_EQ(static_cast<int>(Command::None), 0);
    EXPECT_EQ(static_cast<int>(Command::OpenFolder), 3);
    EXPECT_EQ(static_cast<int>(Command::First), 9);
    EXPECT_EQ(static_cast<int>(Command::RemoveFolder), 15);
}

TEST(KeyBindings, LabelledRowsInTableOrderMakeTheKeyBar) {
    std::string labels;
    for (const KeyBinding& row : bound_rows()) {
        if (!row.label.empty()) {
            labels += static_cast<char>(row.key);
            labels.append(":").append(row.label).append(" ");
        }
    }
    EXPECT_EQ(labels, key_summary());
}

}  // namespace
