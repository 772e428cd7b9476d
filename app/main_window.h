#pragma once

#include <QModelIndex>
#include <QPointF>
#include <QStringList>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <stop_token>
#include <string>
#include <vector>

#include "app/services.h"
#include "collectors/report_context.h"
#include "collectors/report_definition.h"
#include "cycle/cycle_state.h"
#include "cycle/many_computers.h"
#include "cycle/pass.h"
#include "cycle/window_post.h"
#include "grid/changes.h"
#include "grid/error.h"
#include "grid/grid.h"

class DropDownCombo;
class FilterBar;
class QAction;
class SwitchButton;
class ResultsModel;
class ResultsTools;
class RowFilterModel;
class QLabel;
class QSizeGrip;
class QLineEdit;
class QMenu;
class QPushButton;
class QTimer;
class QTreeView;

// The one window of the program: the target computer and category, the
// RUN/STOP collection cycle, the results grid and the window's own frame.
// Controls carry their long-standing names (txtComputer, cmdSwitch ...) as
// object names, so tests and styles find them by name. The state of the
// cycle lives in one object (tavo::cycle::CycleState); the caption of
// cmdSwitch and the enabled controls show it. Passes run on worker threads
// into grids of their own; this thread only takes their results in.
class Main : public QWidget {
    Q_OBJECT
  public:
    explicit Main(MainServices services, QWidget* parent = nullptr);
    ~Main() override;

    // --- Collection cycle ---
    void cmdSwitch_Click();  // RUN/STOP, and the end-of-pass call of one-pass reports
    void tmrPing_Timer();    // one tick: collect the chosen category once
    void SetGrid();          // columns and interval of the chosen category

    // What fills a pass: the dispatch of the report definitions unless a
    // test stands in its own. It runs on the pass's thread.
    void setCollector(tavo::cycle::Collector collector) { collector_ = std::move(collector); }
    const tavo::cycle::CycleState& cycle() const { return cycle_; }
    // True while a pass is out (with several computers: any computer's).
    bool passOut() const {
        return cycle_.passOut() || (rounds_ && rounds_->running() > 0) || combining_ > 0 ||
               marking_ != nullptr;
    }
    // The computers of the running (or last) cycle when it asked several.
    const tavo::cycle::ComputerRounds* computerRounds() const { return rounds_.get(); }

    // --- Grid actions ---
    void cmdExport_Click();
    void cmdExportHTM_Click();
    void Results_ColumnClick(int column);             // column counted from 0
    void Results_DblClick(const QModelIndex& index);  // a network computer becomes the target

    // The filter, column chooser and copying that the grid offers.
    RowFilterModel& rowFilter() { return *filter_; }
    ResultsTools& resultsTools() { return *tools_; }

    // --- Target computer menu ---
    void txtComputer_Click(const QPoint& globalPos);
    void mnuComputerName_Click();
    void mnuPrimaryDNS_Click();
    void mnuCustomComputer_Click();
    void mnuComputersFromFile_Click();
    void mnuListedComputers_Click();  // the computers a Network Computers report shows
    // The computer lists last run (several computers each), newest first.
    QStringList recentComputerLists() const;

    // --- Window frame (positions in twips within lblCaption) ---
    void Form_Resize();
    void lblCaption_MouseDown(Qt::MouseButton button, QPointF twips);
    void lblCaption_MouseMove(QPointF twips);
    void lblCaption_MouseUp(QPointF twips);
    void Maximise_Click();
    void Close_Click();
    void website_Click();

    // The error report of handlers that trap nothing: a message box
    // captioned with the product name, with the error's number and text.
    void reportError(const tavo::Error& error);

    // --- What the window shows of the cycle ---
    std::string computer() const;
    tavo::grid::Grid& results() { return grid_; }
    void setIntervalVisible(bool visible);
    void resetPointer();
    // The end-of-pass call: stops the cycle while it runs, nothing after.
    void endOfPass();
    tavo::wmi::ConnectionFactory& management();

    bool isRunning() const;
    bool isDragging() const { return dragging_; }

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void buildControls();
    void startUp();
    void stopBranch();
    void showCycleState();
    void passFinished(std::uint64_t id, tavo::cycle::PassOutcome outcome);
    // `whole`: the rows of a whole pass (see ResultsTools::takePass).
    void takeResults(tavo::grid::Grid& rows, bool whole = true);
    void takeResultsNow(tavo::grid::Grid& rows, bool whole,
                        const tavo::grid::PassChanges* compared);
    // A big pass is compared with the rows shown on a thread of its own
    // (marking_), and taken in when that is done; nothing writes grid_ meanwhile.
    struct Marking;
    void finishMarking();
    // The comparison's end waited for; the pass is the caller's to take in or not.
    std::shared_ptr<Marking> dropMarking();
    void setWaitPointer();
    void moveByDrag(QPointF twips);
    void showPassTime(const QString& text, const QString& toolTip);
    void showEmptyReason(const QString& reason);
    void rememberComputerList(const QString& text);
    void fillComputerMenu();
    // The column of a Network Computers report's rows that names a computer.
    int computerNameColumn() const;

    // Several computers: each computer's pass, the rounds, and their rows
    // taken in together.
    void startComputerPasses(const std::vector<std::size_t>& computers);
    void computerPassEnded(std::uint64_t generation, std::size_t computer,
                           tavo::cycle::PassOutcome outcome);
    // `atTick`: the next tick came before every computer of the round answered.
    void takeInComputers(bool atTick = false);
    struct CombinedRows {
        tavo::cycle::RoundsSnapshot snapshot;
        std::unique_ptr<tavo::grid::Grid> rows;
        std::uint64_t generation = 0;
        std::uint64_t sequence = 0;
        bool ended = false;  // the round's last answer is in
        bool whole = true;   // every computer's rows of a round (else the first answers)
        QString text, tip;   // the time label's
    };
    void combinedRowsReady(CombinedRows& job);
    void buildGridTools();
    void placeFilterBar();

    MainServices services_;
    tavo::grid::Grid grid_;
    bool gridListsComputers_ = false;     // the rows are network computers
    bool gridHasComputerColumn_ = false;  // a first column names each row's computer
    ResultsModel* model_ = nullptr;

    QLabel* lblCaption = nullptr;
    QLabel* Maximise = nullptr;
    QLabel* Close = nullptr;
    DropDownCombo* cmbFunction = nullptr;
    QLineEdit* txtComputer = nullptr;
    SwitchButton* cmdSwitch = nullptr;
    QPushButton* cmdExport = nullptr;
    QPushButton* cmdExportHTM = nullptr;
    QLineEdit* txtFreq = nullptr;
    QLabel* lblFreq = nullptr;
    QLabel* lblTime = nullptr;
    QTreeView* Results = nullptr;
    QLabel* website = nullptr;
    QTimer* tmrPing = nullptr;
    QMenu* mnuComputer = nullptr;
    QAction* mnuListedComputers = nullptr;
    QAction* mnuRecentSeparator = nullptr;
    std::vector<QAction*> mnuRecent_;
    // Added to the original controls: the whole reason of an empty report, in the
    // grid's empty area, where the narrow time label only has room for a word.
    QLabel* emptyNote_ = nullptr;
    QString passText_;  // the time label's whole text, cut again when the window is resized
    // Added too: without a system frame, the corner grip
    // is how the window is resized by hand.
    QSizeGrip* sizeGrip = nullptr;
    // Added too: the filter in the website's strip, and what stands between
    // the grid's model and the view.
    FilterBar* filterBar_ = nullptr;
    RowFilterModel* filter_ = nullptr;
    ResultsTools* tools_ = nullptr;

    // Last sort order applied by a column click: 0 ascending, 1 descending.
    std::int32_t sortdirection_ = 0;
    // Title bar drag: the pointer's place in lblCaption at the press, twips.
    bool dragging_ = false;
    double dragx_ = 0;
    double dragy_ = 0;

    bool waitPointer_ = false;
    tavo::cycle::CycleState cycle_;
    tavo::cycle::Collector collector_;
    // How the passes' news reaches this thread; closed when the window goes.
    std::shared_ptr<tavo::cycle::WindowPost> post_;

    // A cycle over several computers; null for one computer.
    std::unique_ptr<tavo::cycle::ComputerRounds> rounds_;
    const tavo::ReportDefinition* roundsReport_ = nullptr;
    std::stop_source roundsStop_;
    std::uint64_t roundsGeneration_ = 0;  // outcomes of an earlier cycle are dropped
    bool roundTakenIn_ = true;            // the rows of the present round are shown
    QTimer* takeInTimer_ = nullptr;       // gathers the first round's early answers
    int combining_ = 0;                   // rows being combined on another thread
    std::shared_ptr<Marking> marking_;    // a big pass being compared with grid_
    std::uint64_t combineSequence_ = 0;
    std::uint64_t shownSequence_ = 0;
};
