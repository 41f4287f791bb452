#pragma once

// One foldable section of setting rows built from what a camera tool reports about its
// parameters: the viewer has no list of parameters of its own. The panels decide which kinds
// of parameter get a row, with which initial value and where it goes; this file does the rest.
//
// Threads: GUI thread only.
#include <QString>

#include <functional>
#include <string>

#include "norvale/CameraTool.h"

class QWidget;
class SettingItemBox;
class SettingBaseWithComboBox;
class SettingBaseWithLineEdit;
class SettingBaseWithSwitchButton;

// What a section builds for each kind of parameter. An empty function builds no row for that
// kind; a function may also return nullptr. Rows are appended in name order, except that a
// section may give boolean or enumerated rows a fixed position (clamped to the rows so far).
struct ToolSectionRules {
    std::function<QWidget*(const std::string&, const norvale::IntParameterInfo&)> intRow;
    std::function<QWidget*(const std::string&, const norvale::FloatParameterInfo&)> floatRow;
    std::function<QWidget*(const std::string&, const norvale::BoolParameterInfo&)> boolRow;
    std::function<QWidget*(const std::string&, const norvale::EnumParameterInfo&)> enumRow;
    int boolIndex = -1; // -1 appends
    int enumIndex = -1;
};

// A folded box titled title holding a row for each parameter the rules build. Parameters whose
// typed description cannot be read get no row. nullptr when the tool reports no parameters.
SettingItemBox* buildToolSection(const norvale::CameraTool& tool, const QString& title, const ToolSectionRules& rules,
                                 QWidget* parent);

// Rows with the parameter's description as tip, its range, unit and the initial value; not yet
// connected, so setting them up writes nothing anywhere.
SettingBaseWithLineEdit* makeIntRow(const std::string& name, const norvale::IntParameterInfo& info, int initial);
// The float range and default are truncated to integers.
SettingBaseWithLineEdit* makeFloatRow(const std::string& name, const norvale::FloatParameterInfo& info);
SettingBaseWithSwitchButton* makeBoolRow(const std::string& name, const std::string& description, bool initial);
// One item per option, the first one current.
SettingBaseWithComboBox* makeEnumRow(const std::string& name, const norvale::EnumParameterInfo& info);

// Truncates towards zero, saturating at the int range (a float range may be wider than an int).
int truncateToInt(float value);
