#pragma once

#include <QDialog>
#include <functional>

class ISerialCtl;
class SettingsStore;
class Prompts;
class QButtonGroup;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QTabWidget;

// The port-properties dialog: created for each opening, destroyed on close.
class frmProperties : public QDialog {
    Q_OBJECT
public:
    // LocalEcho is the main window's echo flag, shown and set here.
    // refreshDisplay brings the main window's connection display in line with
    // the port after the dialog closed and re-opened it.
    frmProperties(ISerialCtl& serial, SettingsStore& store, Prompts& prompts, bool& LocalEcho,
                  std::function<void()> refreshDisplay, QWidget* parent = nullptr);

    void Form_Load();
    void LoadPropertySettings();
    void optEcho_Click(int index);
    void optFlow_Click(int index);
    void cmdOK_Click();
    void cmdCancel_Click();

    // The choices of the option groups, set only by their handlers. -1 until
    // a flow mode is selected, so an unknown mode is refused rather than
    // silently replaced.
    qint16 PendingFlow = -1;
    bool PendingEcho = false;

    QTabWidget* tabSettings = nullptr;
    QFrame* fraSettings = nullptr;
    QLabel* Label1 = nullptr;
    QComboBox* cboPort = nullptr;
    QGroupBox* Frame1 = nullptr;
    QComboBox* cboSpeed = nullptr;
    QGroupBox* fraConnection = nullptr;
    QLabel* Label3 = nullptr;
    QComboBox* cboDataBits = nullptr;
    QLabel* Label4 = nullptr;
    QComboBox* cboParity = nullptr;
    QLabel* Label5 = nullptr;
    QComboBox* cboStopBits = nullptr;
    QGroupBox* Frame7 = nullptr;
    QRadioButton* optEcho[2] = {};
    QGroupBox* Frame5 = nullptr;
    QRadioButton* optFlow[4] = {};
    QPushButton* cmdOK = nullptr;
    QPushButton* cmdCancel = nullptr;
    QButtonGroup* optEchoGroup = nullptr;
    QButtonGroup* optFlowGroup = nullptr;

private:
    void createControls();
    // Design geometry in twips, at 15 twips per pixel on a 96 dpi screen.
    void place(QWidget* widget, int left, int top, int width, int height) const;
    int pixels(int twips) const;

    ISerialCtl& m_serial;
    SettingsStore& m_store;
    Prompts& m_prompts;
    bool& m_localEcho;
    std::function<void()> m_refreshDisplay;
    double m_scale = 1.0;
};
