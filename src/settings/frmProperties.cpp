// Placeholder until the dialog lands.
#include "settings/frmProperties.h"

frmProperties::frmProperties(ISerialCtl&, SettingsStore&, Prompts&, std::function<void()>,
                             QWidget* parent)
    : QDialog(parent) {}
