#pragma once

#include <QDialog>
#include <functional>

class ISerialCtl;
class SettingsStore;
class Prompts;

// The port-properties dialog: created for each opening, destroyed on close.
class frmProperties : public QDialog {
    Q_OBJECT
public:
    // refreshDisplay brings the main window's connection display in line with
    // the port after the dialog closed and re-opened it.
    frmProperties(ISerialCtl& serial, SettingsStore& store, Prompts& prompts,
                  std::function<void()> refreshDisplay, QWidget* parent = nullptr);
};
