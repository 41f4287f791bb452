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

// Two blue lines around a row of the buttons `default_button`, `refresh_button`, `import_button`
// and `export_button`. The panel connects their clicked() to its configuration slots.
class ConfigButtonBar : public QWidget {
    Q_OBJECT
public:
    explicit ConfigButtonBar(QWidget* parent = nullptr);

    QPushButton* defaultButton() const { return m_default; }
    QPushButton* refreshButton() const { return m_refresh; }
    QPushButton* importButton() const { return m_import; }
    QPushButton* exportButton() const { return m_export; }

private:
    QPushButton* addButton(const QString& objectName, const QString& text);

    QPushButton* m_default = nullptr;
    QPushButton* m_refresh = nullptr;
    QPushButton* m_import = nullptr;
    QPushButton* m_export = nullptr;
};
