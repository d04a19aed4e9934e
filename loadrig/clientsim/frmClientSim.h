#pragma once

#include "ClientRunController.h"
#include <rigwindow/RigWindow.h>

#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QFormLayout;
class QGridLayout;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// What the program's options ask of the client window at start.
struct ClientScript {
    std::optional<std::string> server;   // typed into ConnIPAddr
    std::optional<int> port;             // typed into ConnPortNo
    std::optional<int> clientKind;       // typed into txtClientKind
    bool start = false;                  // Start pressed
    std::optional<int> quitAfterSeconds; // Stop (when running) and Quit pressed then
};

// The client window: connection and numbering boxes, the call scenario, the run clock, the
// countdowns, the event and command counts, the log and the four buttons. It only forwards the
// user's input to its controller and shows the controller's state.
class frmClientSim : public RigWindow {
    Q_OBJECT

public:
    // Without a controller the window makes its own. Loading (Form_Load) happens here.
    explicit frmClientSim(ClientRunController* controller = nullptr, QWidget* parent = nullptr);
    ~frmClientSim() override;

    // The scripted start of the program: the given boxes are typed into, then Start pressed.
    void StartScript(const ClientScript& script);

    QPushButton* Start() const { return m_start; }
    QPushButton* Disconnect() const { return m_disconnect; }
    QPushButton* cmdReset() const { return m_reset; }
    QPushButton* cmdQuit() const { return m_quit; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    template <class W> struct Binding {
        W* widget;
        ClientControl ClientWindowState::*field;
    };

    // A row of a frame of boxes that only show a count or a time.
    struct ShownBox {
        const char* caption;
        const char* name;
        ClientControl ClientWindowState::*field;
    };

    void BuildControls();
    QGroupBox* BuildConnection();
    QGroupBox* BuildNumbering();
    QGroupBox* BuildScenario();
    QGroupBox* BuildRunTime();
    void BuildCounts(QGridLayout* grid);
    QHBoxLayout* BuildButtons();
    QGroupBox* ShownFrame(const char* caption, std::initializer_list<ShownBox> rows);
    void AddShownRows(QFormLayout* form, std::initializer_list<ShownBox> rows);

    // A box without a handler only shows; the others pass what is typed to the controller.
    QLineEdit* AddBox(const char* name, ClientControl ClientWindowState::*field,
                      void (ClientRunController::*typed)(const std::string&) = nullptr);
    QCheckBox* AddCheck(const char* name, const char* caption,
                        ClientControl ClientWindowState::*field,
                        void (ClientRunController::*clicked)(bool) = nullptr);
    QComboBox* AddCombo(const char* name, ClientList list, ClientControl ClientWindowState::*field,
                        void (ClientRunController::*chosen)(int));
    QPushButton* AddButton(const char* name, ClientControl ClientWindowState::*field,
                           void (ClientRunController::*pressed)());
    void RefreshState();
    void ShowMessage(const ClientMessage& message);

    OwnedOrInjected<ClientRunController> m_controller;

    std::vector<Binding<QLineEdit>> m_boxes;
    std::vector<Binding<QCheckBox>> m_checks;
    std::vector<Binding<QComboBox>> m_combos;
    std::vector<Binding<QPushButton>> m_buttons;

    QLineEdit* m_editCallerStartTelNo = nullptr;
    QLineEdit* m_editCalleeStartTelNo = nullptr;
    QLineEdit* m_editTimePeriod = nullptr;
    QLabel* m_lblStatus = nullptr;
    QPlainTextEdit* m_txtRecvData = nullptr;
    std::string m_shownLog;

    QPushButton* m_start = nullptr;
    QPushButton* m_disconnect = nullptr;
    QPushButton* m_reset = nullptr;
    QPushButton* m_quit = nullptr;
};
