#include "settings/toolsection.h"

#include <QDebug>

#include <algorithm>
#include <climits>
#include <cmath>

#include "settings/settingbasewithcombobox.h"
#include "settings/settingbasewithlineedit.h"
#include "settings/settingbasewithswitchbutton.h"
#include "settings/settingitembox.h"

using namespace norvale;

int truncateToInt(float value) {
    if (std::isnan(value))
        return 0;
    if (value >= float(INT_MAX))
        return INT_MAX;
    if (value <= float(INT_MIN))
        return INT_MIN;
    return static_cast<int>(value);
}

SettingBaseWithLineEdit* makeIntRow(const std::string& name, const IntParameterInfo& info, int initial) {
    auto* row = new SettingBaseWithLineEdit(name);
    row->setToolTip(QString::fromStdString(info.description));
    row->setSliderBarValueRange(info.min, info.max);
    row->setCurrentValue(initial);
    row->setValueUnit(info.unit);
    return row;
}

SettingBaseWithLineEdit* makeFloatRow(const std::string& name, const FloatParameterInfo& info) {
    auto* row = new SettingBaseWithLineEdit(name);
    row->setToolTip(QString::fromStdString(info.description));
    row->setSliderBarValueRange(truncateToInt(info.min), truncateToInt(info.max));
    row->setCurrentValue(truncateToInt(info.defaultValue));
    row->setValueUnit(info.unit);
    return row;
}

SettingBaseWithSwitchButton* makeBoolRow(const std::string& name, const std::string& description, bool initial) {
    auto* row = new SettingBaseWithSwitchButton(name);
    row->setToolTip(QString::fromStdString(description));
    row->setSwitchBottonStatus(initial);
    return row;
}

SettingBaseWithComboBox* makeEnumRow(const std::string& name, const EnumParameterInfo& info) {
    auto* row = new SettingBaseWithComboBox(name);
    row->setToolTip(QString::fromStdString(info.description));
    for (const std::string& option : info.options)
        row->addItem(QString::fromStdString(option));
    return row;
}

namespace {

// The row for one parameter, or nullptr.
QWidget* rowFor(const CameraTool& tool, const std::string& name, int type, const ToolSectionRules& rules) {
    switch (type) {
    case PARAM_INT: {
        IntParameterInfo info;
        return rules.intRow && tool.getIntParamInfo(name, info) ? rules.intRow(name, info) : nullptr;
    }
    case PARAM_FLOAT: {
        FloatParameterInfo info;
        return rules.floatRow && tool.getFloatParamInfo(name, info) ? rules.floatRow(name, info) : nullptr;
    }
    case PARAM_BOOL: {
        BoolParameterInfo info;
        return rules.boolRow && tool.getBoolParamInfo(name, info) ? rules.boolRow(name, info) : nullptr;
    }
    case PARAM_ENUM: {
        EnumParameterInfo info;
        return rules.enumRow && tool.getEnumParamInfo(name, info) ? rules.enumRow(name, info) : nullptr;
    }
    default:
        return nullptr;
    }
}

} // namespace

SettingItemBox* buildToolSection(const CameraTool& tool, const QString& title, const ToolSectionRules& rules,
                                 QWidget* parent) {
    const auto params = tool.getAllParamInfo();
    if (params.empty())
        return nullptr;
    auto* box = new SettingItemBox(parent);
    box->setBoxTitle(title);
    int rows = 0;
    for (const auto& [name, basic] : params) {
        QWidget* row = rowFor(tool, name, basic.type, rules);
        if (!row)
            continue;
        const int index = basic.type == PARAM_BOOL ? rules.boolIndex : basic.type == PARAM_ENUM ? rules.enumIndex : -1;
        if (index < 0)
            box->addWidget(row);
        else
            box->insertWidget(row, std::min(index, rows));
        ++rows;
    }
    box->setFoldStatus(true);
    return box;
}
