#pragma once

#include <string>
#include <string_view>

// The text with its MIME encoded words ("=?charset?B?...?=", "=?charset?Q?...?=")
// decoded into the charset of the calling thread's locale (LC_CTYPE), every
// other byte kept as it is.
//
// A character that the charset of a word does not allow, or that the locale
// cannot show, becomes one '?'. White space between two adjacent encoded words
// is dropped. An encoded word cut short at the end of the text (no "?=") gives
// what is whole of it; one that cannot be decoded (unknown charset, malformed,
// cut before its encoded text) stays as it is. Control characters come back as
// bytes, unfiltered. Text without "=?" comes back unchanged.
//
// With DecodeTo::Utf8 the words are decoded into UTF-8 whatever the locale
// (for JSON); the bytes around them are still kept as they are.
enum class DecodeTo : unsigned char { Locale, Utf8 };
std::string decode_encoded_words(std::string_view text, DecodeTo target = DecodeTo::Locale);
