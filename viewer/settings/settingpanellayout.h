#pragma once

// Pieces shared by the settings side panels: the column of sections that always ends in one
// stretch, and the bar of the four configuration buttons (Default, Refresh, Load, Export).
//
// Threads: GUI thread only.
#include <QWidget>

class QPushButton;
class QVBoxLayout;

// Inserts widget just before the layout's bottom stretch, then makes sure a stretch is last.
void insertBeforeStretch(QVBoxLayout* layout, QWidget* widget);
// Removes a trailing spacer and appends a fresh stretch of factor 1.
void setBottomSpacer(QVBoxLayout* layout);
// Takes a section out of the column and deletes it; nothing when section is null.
void deleteFromColumn(QVBoxLayout* layout, QWidget* section);
// Makes the scroll area that holds column as wide as the widest item of the column needs (folded
// sections count with their rows), and never below kPanelMinWidth: a squeezed window takes the width
// from the image view, never from the panel. The three functions above call it.
void fitPanelWidth(QVBoxLayout* column);
constexpr int kPanelMinWidth = 320;

// Two blue lines around a row of the buttons `default_button`, `refresh_button`, `import_button`
// and `export_button`, whose clicked() calls the panel's slotDefaultConfig, slotRefreshConfig,
// slotLoadConfig and slotExportConfig. Hidden until shown in the panel's column.
class ConfigButtonBar : public QWidget {
    Q_OBJECT
public:
    ConfigButtonBar(QObject* panel, QWidget* parent);

    // Places the bar just before the column's bottom stretch (moving it there if it is in already).
    void showIn(QVBoxLayout* column);
    void removeFrom(QVBoxLayout* column);

private:
    QPushButton* addButton(const QString& objectName, const QString& text);

    QPushButton* m_default = nullptr;
    QPushButton* m_refresh = nullptr;
    QPushButton* m_import = nullptr;
    QPushButton* m_export = nullptr;
};
