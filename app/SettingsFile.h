// The stored form of the settings file "DL.ini": the plain text (lines in
// code page 932, each followed by CR LF) with every byte XORed with 0xA7.
// The same operation scrambles and unscrambles; the length never changes.
// The plain form exists only in memory: loading unscrambles the bytes read,
// saving writes the scrambled bytes.
#pragma once
#include "runtime/StringList.h"
#include "runtime/SysUtils.h"

#include <string>
#include <string_view>

constexpr unsigned char SettingsKey = 0xA7;

std::string ScrambleBytes(std::string_view bytes);
// Stores the bytes as the file at path: written to a temporary file in the
// same folder, flushed to disk and renamed over it, so that an interrupted
// save leaves the old file or the new one, never a plain, empty or
// half-written one. EFCreateError (with path) when it cannot be done; the
// temporary file is then removed.
void SaveSettingsFile(const std::string& path, std::string_view stored);

// The lines of a stored settings file as UTF-8 (bytes that are not valid
// code page 932 become U+FFFD; nothing fails on content).
TStringList DecodeSettings(std::string_view stored);
// The stored form of UTF-8 lines. A character without a CP932 form becomes
// "?", as a Windows edit field would have stored it.
std::string EncodeSettings(const TStringList& lines);
