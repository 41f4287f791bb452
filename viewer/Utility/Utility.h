#pragma once

// Small stateless helpers of the viewer; every function may be called from any thread.
#include <QImage>
#include <QString>

#include <cstdint>
#include <string>

// "bias_diff_on" -> "Bias Diff On": upper-cases the first letter of each word, "_" becomes a space.
std::string convertToUppercase(const std::string& s);
// "Bias Diff On" -> "bias_diff_on".
std::string convertToLowercase(const std::string& s);

// True when the folder exists or could be created with all its parents.
bool ensurePathExists(const QString& path);
// The folder that path denotes or lies in; "" (and a debug line) when neither exists.
QString getDirectoryPath(const QString& path);
// path when nothing is there, else the first free "STEM_2.EXT", "STEM_3.EXT", ...: a recording of
// the same second never replaces another's file.
QString unusedPath(const QString& path);

// Compares the "V<major>[.<minor>[.<patch>]]" found anywhere in each text; false when either has none.
bool isVersionGreaterOrEqual(const QString& a, const QString& b);
// Dotted quads; a text that is not an address gives false and a warning instead of an exception.
bool isSameSubnet(const std::string& ip1, const std::string& ip2, const std::string& mask);

// Microseconds as "MM:SS:UUUUUU" (minutes not wrapped at 60).
std::string timestamp2StdString(uint64_t microseconds);
// Seconds as "HH:MM:SS" (hours not wrapped at 24).
std::string second2StdString(uint64_t seconds);

// Packed BGR rows of width * 3 bytes to an RGB888 image; an empty size gives a null image.
QImage convertBGRtoRGB(const unsigned char* data, int width, int height);
