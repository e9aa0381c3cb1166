// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "diagnostics/CommLogForm.h"
#include "engine/AsyncResultEventList.h"
#include "engine/MorvForm.h"
#include "protocol/Constants.h"
#include "protocol/Packet.h"
#include "ui/MotionBand.h"

#include <QList>
#include <QMainWindow>
#include <QMap>
#include <QPointer>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QAction;
class QCheckBox;
class QDialog;
class QFrame;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;
class QSlider;
class QSplitter;
class QStatusBar;

class IDevicePrompts;
class TCustomCmd;
class TFloatEdit;
class TFloatEditDlg;
class TGripperPicture;
class TIniFile;
class TPlotForm;
class TRollPanel;

// What the program builds and hands to the window. The window owns the command set from then
// on and destroys it first; the prompts and the command log must outlive the window.
struct TMainWinParts {
    std::unique_ptr<TMorv> Gripper;
    IDevicePrompts* Prompts = nullptr;
    TCommLog* CommandLog = nullptr; // may be null: then the command set logs nowhere
};

// The operator's console: connects and initializes the gripper, shows its live state and
// commands it. Exactly one exists; closing it ends the program. Tests reach its controls by
// their object names.
class TMainWin : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int TrackMax = TMotionBand::TrackMax;

    explicit TMainWin(TMainWinParts parts, QWidget* parent = nullptr);
    ~TMainWin() override;

    TMorv* Gripper() const { return FGripper.get(); }
    TCustomCmd* CommandEditor() const { return FCommandEditor; }
    TFloatEditDlg* ValueDialog() const { return FValueDialog; }
    TCommLog* CommandLog() const { return FCommLog; }
    TPlotForm* Plot() const { return FPlot; }
    const QList<QCheckBox*>& StateBoxes() const { return FStateBoxes; }
    std::int32_t LastSystemState() const { return FLastSystemState; }
    double MinForce() const { return FMinForce; }
    double MaxForce() const { return FMaxForce; }
    double MinAcceleration() const { return FMinAcceleration; }
    double MaxAcceleration() const { return FMaxAcceleration; }
    float ForceLimit() const { return FForceLimit; }
    float Acceleration() const { return FAcceleration; }

    // Menu handlers.
    void Connect1Click();
    void Initialize1Click();
    void Disconnect1Click();
    void manualinit1Click();
    void Reconnect1Click();
    void Commands1Click();
    void View1Click();
    void CustomCommands1Click();
    void Commandlog1Click();
    void Plot1Click();
    void GetSystemInfo1Click();
    void GetSystemLimits1Click();
    void GetGraspingStatistics1Click();
    void Homing1Click();
    void FastStopAcknowledge1Click();
    void About1Click();
    static QString AboutText();
    void KeyboardShortcuts1Click();
    // Every key of the program with what it does, one "key<TAB>action" line each.
    QString ShortcutsText() const;

    // Fast Stop from every window of the program.
    static constexpr Qt::Key FastStopKey = Qt::Key_F12;
    static QString FastStopKeyText();
    // Where the README is looked for, first found first: the build tree, then the package.
    static QStringList DocumentationCandidates(const QString& programDir);

    // The command set's notifications.
    void GripperConnected();
    void GripperDisconnected();
    void ConnectionError();
    void SystemStateChanged();
    void GraspingStateChanged();
    void PositionChanged();
    void LinkStale();
    void LinkFresh();
    void LinkLost();
    // The connection line of the status bar: transport and where, since when, and the state.
    QString LinkLineText() const;

    // Band handlers.
    void btnMoveClick();
    void btnGraspClick();
    void btnReleaseClick();
    void btnStopClick();
    void btnEmergencyStopClick();
    void btnForceClick();
    void btnAccClick();
    void MotionCommandFinished(QObject* sender, std::int32_t id, std::uint16_t status,
                               const TByteArray& data);

    // The smallest window that shows every band and both state panels without scrolling.
    QSize ContentSize() const;
    // At least the design minimum, and enough for the Move and Grasp bands without scrolling.
    void SetMinimumWindowSize();
    // The placement as stored in "settings.ini": "200,flags,show,left,top,right,bottom".
    QString PlacementText() const;
    // False (and nothing changed) for a value that is not a placement.
    bool ApplyPlacement(const QString& text);

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    struct TEditPair {
        TFloatEdit* Edit;
        QSlider* Track;
    };
    // A command whose final result follows later: its identifier, the start of the operator's
    // error text, and how to start it.
    struct TMotion;

    void BuildMenus();
    // Binds every menu entry, button and edit of the layout to its handler.
    void WireHandlers();
    void BuildRightPane();
    void BuildLeftPane();
    void SetConnectedState(bool on);
    static void EnableChildControls(QWidget* container, bool on);
    static void EnableMenuItems(QMenu* menu, bool on);
    void CreateStateFlagBoxes(int left, int top, int width, int step);
    void ShowStateFlags(std::uint32_t state);
    void SetEditRange(TFloatEdit* edit, const QString& unit, double minimum, double maximum);
    void SetEditValue(TFloatEdit* edit, double value);
    void AppHint(const QString& hint);
    void CentreButtons();
    void FloatEditChange(QObject* sender);
    void TrackbarChange(QObject* sender);
    const TEditPair* PairOfEdit(const QObject* edit) const;
    const TEditPair* PairOfTrack(const QObject* track) const;
    void ChangeValue(bool force);
    // The operator's error text: the action's prefix and the status text, with a second line
    // where the status alone does not tell what happened or what to do.
    QString FailureText(const QString& prefix, TStat status, bool motion = false) const;
    QString ConnectionErrorMessage() const;
    // What went wrong with reading the limits, in plain words, for after the fixed text.
    QString LimitsFailureDetail() const;
    // Every motion the operator starts ends with one line in the results text.
    void StartMotion(const TMotion& motion, float first, float second);
    TAsyncResultEvent ResultHandler();
    void CloseOpenMotions();
    // Lines in the results for a fast stop or a fault flag that came or went and a part lost;
    // `previous` is negative before the first state word.
    void NoteSystemState(std::int64_t previous, std::uint32_t state);
    void NoteGraspingState(std::uint8_t state);
    void LayOutResults();
    void OpenDocumentation();
    void WriteSettings();
    // The six positions and speeds the operator chose, across restarts.
    void ReadTargets();
    void WriteTargets();
    void SetUpLink();
    void ShowReadoutsStale(bool stale);
    void UpdateLinkLine();
    // Shows a tool window, the first time at its remembered place or beside this window, never
    // over the Fast Stop button or the state panel, and always on the screen.
    void ShowToolWindow(QWidget* window, const QString& key);
    QRect KeepClearArea() const;
    void WriteToolPlacements();

    std::unique_ptr<TMorv> FGripper;
    TCustomCmd* FCommandEditor = nullptr;
    TFloatEditDlg* FValueDialog = nullptr;
    QPointer<TCommLog> FCommLog;
    TPlotForm* FPlot = nullptr;
    QList<QCheckBox*> FStateBoxes;
    std::int32_t FLastSystemState = -1;
    double FMinForce = 0;
    double FMaxForce = 0;
    double FMinAcceleration = 0;
    double FMaxAcceleration = 0;
    float FForceLimit = 0;
    float FAcceleration = 0;

    QList<TEditPair> FPairs;
    std::vector<std::int32_t>
        FOpenMotions; // identifiers of motions awaiting their result, in start order
    std::unique_ptr<TIniFile> FSettings;
    bool FPlacementRead = false;
    bool FDisconnecting = false;     // the window itself is closing the connection
    bool FPositionRequested = false; // a position re-request waits for its turn or its reply
    bool FSettingsWritten = false;
    bool FInitialized = false;                     // the latest connection was initialized
    std::uint8_t FLastGraspingState = 0xFF;        // none seen yet
    QMap<QString, QPointer<QWidget>> FPlacedTools; // tool windows shown, by settings key
    QMap<QString, QRect> FToolGeometry;            // their latest places
    QPointer<QDialog> FDocumentation;

    // Components, by their design names.
    QMenu* Gripper1;
    QAction* Connect1;
    QAction* Initialize1;
    QAction* Disconnect1;
    QAction* Quit1;
    QMenu* Commands1;
    QAction* GetSystemInfo1;
    QAction* GetSystemLimits1;
    QAction* GetGraspingStatistics1;
    QAction* Homing1;
    QAction* FastStopAcknowledge1;
    QAction* CustomCommands1;
    QMenu* View1;
    QAction* Commandlog1;
    QAction* Plot1;
    QMenu* Options1;
    QAction* manualinit1;
    QAction* Reconnect1;
    QMenu* Help1;
    QAction* KeyboardShortcuts1;
    QAction* About1;

    QFrame* pnLeft;
    QFrame* pnRight;
    QScrollArea* ScrollBox1;
    TRollPanel* RollPanel1;
    TRollPanel* RollPanel2;
    TRollPanel* RollPanel3;
    QFrame* pnState;
    QLabel* lbStateTitle;
    QLabel* lbGraspingState;
    QLabel* lbPositionTitle;
    QLabel* lbPosition;
    QLabel* lbSystemstateTitle;
    QLabel* lbSystemstate;
    QFrame* pnEmergency;
    QPushButton* btnEmergencyStop;
    TGripperPicture* imgGripper;
    QLabel* lbLink;
    QScrollArea* sbCommands;
    QSplitter* Splitter1;
    QWidget* pnResults; // below the splitter; RollPanel2 fills it while expanded
    QPlainTextEdit* AsyncLog;
    QStatusBar* StatusBar;
    QLabel* lbConnecting; // "Connecting…" while an attempt is pending, and the link's notices
    QLabel* lbLinkState = nullptr; // the connection line
    QLabel* lbHint;                // the hint of the control under the mouse or the menu entry

    QFrame* LMDSimplePanel3;
    QLabel* lbAcc;
    QPushButton* btnAcc;
    QFrame* LMDSimplePanel1;
    QLabel* lbForce;
    QPushButton* btnForce;
    TMotionBand* pnGoto;
    TMotionBand* pnGrasp;
    TMotionBand* pnRelease;
    QFrame* pnStop;
    QPushButton* btnStop;
};
