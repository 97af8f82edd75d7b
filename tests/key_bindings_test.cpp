#include "ui/key_bindings.hpp"

#include <gtest/gtest.h>

#include <set>
#include <utility>
#include <vector>

#include <curses.h>

namespace {

TEST(KeyBindings, EveryBoundKeyGivesItsCommand) {
    const std::vector<std::pair<int, Command>> bindings = {
        {'q', Command::Quit},
        {'?', Command::Help},
        {KEY_F(1), Command::Help},
        {'r', Command::ClearLog},
        {'g', Command::OpenFolder},
        {'\r', Command::OpenFolder},
        {KEY_ENTER, Command::OpenFolder},
        {'o', Command::LaunchClient},
        {'c', Command::Compose},
        {'l', Command::Redraw},
        {'k', Command::Up},
        {KEY_UP, Command::Up},
        {'j', Command::Down},
        {KEY_DOWN, Command::Down},
        {KEY_RIGHT, Command::Last},
        {KEY_LEFT, Command::First},
        {'=', Command::First},
        {'*', Command::Last},
        {KEY_HOME, Command::First},
        {KEY_END, Command::Last},
        {'h', Command::Expand},
        {'b', Command::ToggleBeep},
        {'m', Command::MarkRead},
        {'d', Command::RemoveFolder},
        {6, Command::PageDown},
        {KEY_NPAGE, Command::PageDown},
        {2, Command::PageUp},
        {KEY_PPAGE, Command::PageUp},
        {'/', Command::Search},
        {'n', Command::SearchNext},
        {'N', Command::SearchBack},
        {KEY_MOUSE, Command::Mouse},
    };
    for (const auto& [key, command] : bindings) {
        EXPECT_EQ(key_to_command(key), command) << "key " << key;
    }
    // The table holds exactly these rows, each key once.
    std::set<int> keys;
    int rows = 0;
    for (const KeyBinding* row = key_table; row->key != 0; ++row, ++rows) {
        keys.insert(row->key);
    }
    EXPECT_EQ(rows, static_cast<int>(bindings.size()));
    EXPECT_EQ(keys.size(), bindings.size());
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

TEST(KeyBindings, LabelsAndDescriptionsFeedTheBarsAndTheHelp) {
    std::string labels;
    std::string described;
    for (const KeyBinding* row = key_table; row->key != 0; ++row) {
        if (!row->label.empty()) {
            labels += static_cast<char>(row->key);
            labels += ":";
            labels += row->label;
            labels += " ";
        }
        if (!row->description.empty()) {
            described += static_cast<char>(row->key);
        }
    }
    EXPECT_EQ(labels,
              "q:Quit ?:Help r:Clear h:Expand/Contract b:Toggle beep m:Mark as read "
              "d:Remove folder ");
    EXPECT_EQ(described, "q?rgoclkjhbmd\x06\x02/nN");
    EXPECT_EQ(key_table[0].description, "Quit Lurko");
}

}  // namespace
