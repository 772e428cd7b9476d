#include "app/main_window.h"
#include "app/switch_button.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QIcon>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QSizeGrip>
#include <QTime>
#include <QTimer>
#include <QTreeView>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <vector>

#include "app/combo_resize.h"
#include "app/computer_file.h"
#include "app/product.h"
#include "target/target_computer.h"

#include "app/export_actions.h"
#include "app/filter_bar.h"
#include "app/results_model.h"
#include "app/results_tools.h"
#include "app/row_filter_model.h"
#include "cycle/computer_list.h"
#include "grid/sorting.h"
#include "support/background.h"

// The icons live in the app library; a static library's resources are
// registered by hand.
static void initResources() {
    Q_INIT_RESOURCE(app);
}

namespace {

constexpr double kTwipsPerPixel = 15.0;
// Frame layout: strip right of the pictures and the grid, gap between the
// pictures, gap between the grid and the website label.
constexpr double kRightMargin = 255;
constexpr double kPictureGap = 10;
constexpr double kWebsiteGap = 100;
// The computer field's design width, where the time label ends, and the
// window's design width: the row's width beyond it is free for the field
// and the label to share.
constexpr double kComputerWidth = 1355;
constexpr double kStripEnd = 6120 + 2535;
constexpr double kDesignWidth = 9105;
// The computer lists offered again in the target menu.
constexpr int kRecentLists = 5;
const char* const kRecentListsKey = "computers/recentLists";
using tavo::cycle::kUnexpectedFailure;

int px(double twips) {
    return static_cast<int>(std::lround(twips / kTwipsPerPixel));
}
double twips(int pixels) {
    return pixels * kTwipsPerPixel;
}

void place(QWidget* w, double left, double top, double width, double height) {
    w->setGeometry(px(left), px(top), px(width), px(height));
    w->setProperty("designLeft", left);
}

// Where `w` stands in the design, in twips, before the window grew.
double designLeft(const QWidget* w) {
    return w->property("designLeft").toDouble();
}

// Colours in every state of the widget, so a control keeps them when the
// window is inactive or the control disabled, not the style's greys.
void paint(QWidget* w, std::optional<QColor> back, std::optional<QColor> fore = std::nullopt) {
    QPalette p = w->palette();
    if (back) {
        for (auto role : {QPalette::Window, QPalette::Base, QPalette::Button})
            p.setColor(role, *back);
        w->setAutoFillBackground(true);
    }
    if (fore) {
        for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
            p.setColor(role, *fore);
    }
    w->setPalette(p);
}

void setButtonColour(QPushButton* b, const QColor& back) {
    QPalette p = b->palette();
    p.setColor(QPalette::Button, back);
    b->setPalette(p);
}

// The fonts the controls' twip sizes were measured with, so captions fit;
// the desktop's sans serif where they are missing (as they are on nearly
// every Linux system).
QFont designFont(const QString& family, bool bold) {
    QFont f;
    f.setFamilies({family, QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif")});
    f.setStyleHint(QFont::SansSerif);
    f.setPointSizeF(8.25);
    f.setWeight(bold ? QFont::Bold : QFont::Normal);
    return f;
}

// The two title-bar pictures: a white glyph on the caption's dark grey.
QPixmap framePicture(bool close) {
    const qreal dpr = qApp ? qApp->devicePixelRatio() : 1.0;
    QPixmap pm(QSize(16, 16) * dpr);
    pm.setDevicePixelRatio(dpr);
    pm.fill(QColor(0x40, 0x40, 0x40));
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::white, 1.6));
    if (close) {
        p.drawLine(QPointF(4, 4), QPointF(12, 12));
        p.drawLine(QPointF(12, 4), QPointF(4, 12));
    } else {
        p.drawRect(QRectF(3.5, 3.5, 9, 9));
        p.drawLine(QPointF(3.5, 5), QPointF(12.5, 5));
    }
    return pm;
}

QString timeOfDay() {
    // The locale's long time format, without the time zone it may append.
    QString format = QLocale::system().timeFormat(QLocale::LongFormat);
    format.remove(QLatin1Char('t'));
    format = format.trimmed();
    if (format.isEmpty()) format = QStringLiteral("HH:mm:ss");
    return QLocale::system().toString(QTime::currentTime(), format);
}

}  // namespace

// Frameless: the window draws its own title bar with its own maximise and
// close pictures, and a system frame around it would show two title bars
// with two sets of buttons. Moving goes through the caption (the window
// system's own move where it keeps placing to itself, as on Wayland), and
// resizing through the corner grip.
Main::Main(MainServices services, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), services_(std::move(services)) {
    if (!services_.dialogs) services_.dialogs = std::make_shared<QtDialogs>();
    // A pass's news is queued to this window's thread; Qt drops what is
    // still queued when the window goes, and the closed post sends no more.
    post_ = std::make_shared<tavo::cycle::WindowPost>([this](std::function<void()> work) {
        QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
    });
    initResources();
    buildControls();
    buildGridTools();
    startUp();
    // Where the user last left the window; the default place otherwise.
    if (const auto geometry = LayoutStore(services_.settings.get()).windowGeometry())
        restoreGeometry(*geometry);
}

Main::~Main() {
    // A pass still out finishes on its own and its news goes nowhere.
    post_->close();
    cycle_.stop();
    if (services_.management) services_.management->closeSessions();
    dropMarking();  // its comparison reads the grid
    // The model watches the grid; let it go before the grid does.
    if (model_) {
        Results->setModel(nullptr);
        delete filter_;
        filter_ = nullptr;
        delete model_;
        model_ = nullptr;
    }
    grid_.setObserver(nullptr);
    resetPointer();
}

void Main::buildControls() {
    setObjectName(QStringLiteral("Main"));
    setWindowTitle(productName());
    setFont(designFont(QStringLiteral("MS Sans Serif"), false));
    // Only the form's own background: the grid and the fields keep theirs.
    QPalette form = palette();
    form.setColor(QPalette::Window, QColor(0xC0, 0xC0, 0xC0));
    setPalette(form);
    setAutoFillBackground(true);
    resize(px(9105), px(3510));
    // Small enough to shrink, never so small that the grid's height or the
    // pictures' places go below zero.
    setMinimumSize(static_cast<int>(std::ceil((2 * kRightMargin + kPictureGap + 240) / 15.0)),
                   static_cast<int>(std::ceil((570 + 255 + 285 + kWebsiteGap) / 15.0)));

    QIcon icon;
    for (int size : {16, 24, 32}) icon.addFile(QStringLiteral(":/icons/tavo-%1.png").arg(size));
    setWindowIcon(icon);

    lblCaption = new QLabel(this);
    lblCaption->setObjectName(QStringLiteral("lblCaption"));
    place(lblCaption, 0, 0, 3200, 255);
    paint(lblCaption, QColor(0x40, 0x40, 0x40), QColor(0xFF, 0xFF, 0xFF));
    lblCaption->setFont(designFont(QStringLiteral("Tahoma"), false));
    lblCaption->setTextFormat(Qt::PlainText);  // it names the computer as typed
    lblCaption->installEventFilter(this);

    Maximise = new QLabel(this);
    Maximise->setObjectName(QStringLiteral("Maximise"));
    place(Maximise, 2650, 20, 240, 240);
    paint(Maximise, QColor(0x40, 0x40, 0x40));
    Maximise->setPixmap(framePicture(false));
    Maximise->setToolTip(QStringLiteral("Maximise"));
    Maximise->installEventFilter(this);

    Close = new QLabel(this);
    Close->setObjectName(QStringLiteral("Close"));
    place(Close, 2950, 20, 255, 230);
    paint(Close, QColor(0x40, 0x40, 0x40));
    Close->setPixmap(framePicture(true));
    Close->setToolTip(QStringLiteral("Exit"));
    Close->installEventFilter(this);

    cmbFunction = new DropDownCombo(this);
    cmbFunction->setObjectName(QStringLiteral("cmbFunction"));
    place(cmbFunction, 0, 240, 1815, 315);
    // Editable, so a category can be typed; typing adds no entries, and a text
    // outside the list simply collects nothing.
    cmbFunction->setEditable(true);
    cmbFunction->setInsertPolicy(QComboBox::NoInsert);
    for (std::string_view category : tavo::reportCategories())
        cmbFunction->addItem(QString::fromUtf8(category.data(), qsizetype(category.size())));
    cmbFunction->setMaxVisibleItems(int(tavo::reportCategories().size()));
    cmbFunction->setCurrentText(QStringLiteral("Network Adapters"));
    cmbFunction->lineEdit()->setCursorPosition(0);
    paint(cmbFunction, QColor(0xFF, 0xFF, 0xFF));
    cmbFunction->setToolTip(QStringLiteral("Select the type of information you want"));

    txtComputer = new QLineEdit(QStringLiteral("Computer"), this);
    txtComputer->setObjectName(QStringLiteral("txtComputer"));
    place(txtComputer, 1800, 280, 1355, 285);
    paint(txtComputer, QColor(0xFF, 0xFF, 0x80));
    txtComputer->setToolTip(QStringLiteral("Change the computer you are searching"));
    txtComputer->installEventFilter(this);
    // A list of computers read from a file can be long; nothing of it is cut.
    txtComputer->setMaxLength(std::numeric_limits<int>::max());

    cmdSwitch = new SwitchButton(QStringLiteral("RUN"), this, QColor(0xC0, 0xFF, 0xC0),
                                 QColor(0xFF, 0xC0, 0xC0));
    cmdSwitch->setObjectName(QStringLiteral("cmdSwitch"));
    place(cmdSwitch, 3165, 240, 735, 325);
    cmdSwitch->setToolTip(QStringLiteral("Collect the data"));
    connect(cmdSwitch, &QPushButton::clicked, this, [this] { cmdSwitch_Click(); });

    cmdExport = new QPushButton(QStringLiteral("Csv"), this);
    cmdExport->setObjectName(QStringLiteral("cmdExport"));
    place(cmdExport, 3885, 240, 735, 325);
    setButtonColour(cmdExport, QColor(0xC0, 0xC0, 0xFF));
    cmdExport->setToolTip(QStringLiteral("Export the results"));
    cmdExport->setEnabled(false);
    connect(cmdExport, &QPushButton::clicked, this, [this] { cmdExport_Click(); });

    cmdExportHTM = new QPushButton(QStringLiteral("Html"), this);
    cmdExportHTM->setObjectName(QStringLiteral("cmdExportHTM"));
    place(cmdExportHTM, 4600, 240, 735, 325);
    setButtonColour(cmdExportHTM, QColor(0xC0, 0xC0, 0xFF));
    cmdExportHTM->setToolTip(QStringLiteral("Export the results"));
    cmdExportHTM->setEnabled(false);
    connect(cmdExportHTM, &QPushButton::clicked, this, [this] { cmdExportHTM_Click(); });

    txtFreq = new QLineEdit(QStringLiteral("30"), this);
    txtFreq->setObjectName(QStringLiteral("txtFreq"));
    place(txtFreq, 5445, 320, 245, 210);
    paint(txtFreq, QColor(0xC0, 0xC0, 0xC0), QColor(0, 0, 0));
    txtFreq->setFont(designFont(QStringLiteral("MS Sans Serif"), true));
    txtFreq->setFrame(false);
    txtFreq->setTextMargins(0, 0, 0, 0);

    lblFreq = new QLabel(QStringLiteral("sec"), this);
    lblFreq->setObjectName(QStringLiteral("lblFreq"));
    place(lblFreq, 5715, 300, 495, 255);
    paint(lblFreq, QColor(0x40, 0x40, 0x40), QColor(0, 0, 0));

    lblTime = new QLabel(this);
    lblTime->setObjectName(QStringLiteral("lblTime"));
    place(lblTime, 6120, 300, 2535, 255);
    paint(lblTime, std::nullopt, QColor(0xFF, 0, 0));
    // It shows what the computer asked said; never read as markup.
    lblTime->setTextFormat(Qt::PlainText);
    lblTime->setFont(designFont(QStringLiteral("MS Sans Serif"), true));

    Results = new QTreeView(this);
    Results->setObjectName(QStringLiteral("Results"));
    place(Results, 0, 570, 8895, 1815);
    Results->header()->setDefaultSectionSize(px(tavo::grid::kDefaultColumnWidth));
    model_ = new ResultsModel(grid_, this);
    filter_ = new RowFilterModel(*model_, this);
    bindResultsView(*Results, *model_, filter_);
    connect(Results->header(), &QHeaderView::sectionClicked, this,
            [this](int section) { Results_ColumnClick(section); });
    connect(Results, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex& index) { Results_DblClick(index); });

    emptyNote_ = new QLabel(Results->viewport());
    emptyNote_->setObjectName(QStringLiteral("emptyNote"));
    emptyNote_->setTextFormat(Qt::PlainText);  // what the computer said, never markup
    emptyNote_->setWordWrap(true);
    emptyNote_->setAlignment(Qt::AlignCenter);
    emptyNote_->setAttribute(Qt::WA_TransparentForMouseEvents);
    emptyNote_->hide();

    website = new QLabel(productWebsiteHost(), this);
    website->setObjectName(QStringLiteral("website"));
    place(website, 0, 2500, 3015, 255);
    paint(website, std::nullopt, QColor(0, 0, 0xFF));
    website->setCursor(Qt::PointingHandCursor);
    website->installEventFilter(this);

    sizeGrip = new QSizeGrip(this);
    sizeGrip->setObjectName(QStringLiteral("sizeGrip"));
    sizeGrip->resize(sizeGrip->sizeHint());

    tmrPing = new QTimer(this);
    tmrPing->setObjectName(QStringLiteral("tmrPing"));
    tmrPing->setInterval(1000);
    connect(tmrPing, &QTimer::timeout, this, [this] { tmrPing_Timer(); });

    mnuComputer = new QMenu(this);
    mnuComputer->setObjectName(QStringLiteral("mnuComputer"));
    QAction* thisComputer = mnuComputer->addAction(QStringLiteral("This Computer"));
    thisComputer->setObjectName(QStringLiteral("mnuComputerName"));
    connect(thisComputer, &QAction::triggered, this, [this] { mnuComputerName_Click(); });
    QAction* dns = mnuComputer->addAction(QStringLiteral("Primary DNS Server"));
    dns->setObjectName(QStringLiteral("mnuPrimaryDNS"));
    connect(dns, &QAction::triggered, this, [this] { mnuPrimaryDNS_Click(); });
    QAction* custom = mnuComputer->addAction(QStringLiteral("Custom"));
    custom->setObjectName(QStringLiteral("mnuCustomComputer"));
    connect(custom, &QAction::triggered, this, [this] { mnuCustomComputer_Click(); });
    QAction* fromFile = mnuComputer->addAction(QStringLiteral("Computers from a file…"));
    fromFile->setObjectName(QStringLiteral("mnuComputersFromFile"));
    connect(fromFile, &QAction::triggered, this, [this] { mnuComputersFromFile_Click(); });
    mnuListedComputers = mnuComputer->addAction(QStringLiteral("The computers listed"));
    mnuListedComputers->setObjectName(QStringLiteral("mnuListedComputers"));
    connect(mnuListedComputers, &QAction::triggered, this, [this] { mnuListedComputers_Click(); });
    mnuRecentSeparator = mnuComputer->addSeparator();
    connect(mnuComputer, &QMenu::aboutToShow, this, [this] { fillComputerMenu(); });
    fillComputerMenu();

    takeInTimer_ = new QTimer(this);
    takeInTimer_->setSingleShot(true);
    takeInTimer_->setInterval(250);
    connect(takeInTimer_, &QTimer::timeout, this, [this] { takeInComputers(); });

    // Keyboard order of the controls that take focus, by their tab index.
    QWidget* order[] = {txtFreq,     cmdSwitch, Results,     txtComputer,
                        cmbFunction, cmdExport, cmdExportHTM};
    for (std::size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
}

void Main::buildGridTools() {
    tools_ = new ResultsTools(
        *Results, *model_, *filter_, [this] { return cmbFunction->currentText(); },
        LayoutStore(services_.settings.get()), this);

    // In the website's strip, to the right of the link; raised over the
    // label's empty part so the link keeps its place and size.
    filterBar_ = new FilterBar(this);
    filterBar_->raise();
    sizeGrip->raise();
    connect(filterBar_, &FilterBar::filterTextChanged, filter_, &RowFilterModel::setFilterText);
    connect(filterBar_, &FilterBar::lampChoiceChanged, filter_, &RowFilterModel::setLampChoice);
    connect(filter_, &RowFilterModel::countsChanged, filterBar_, &FilterBar::setCounts);
    connect(filterBar_, &FilterBar::filterFocusChanged, filter_, &RowFilterModel::setPrepared);
    filterBar_->setCounts(filter_->shownRows(), filter_->totalRows());

    auto* find = new QShortcut(QKeySequence::Find, this);
    connect(find, &QShortcut::activated, filterBar_, &FilterBar::focusFilter);
    auto* runStop = new QShortcut(QKeySequence(Qt::Key_F5), this);
    connect(runStop, &QShortcut::activated, this, [this] { cmdSwitch_Click(); });
    connect(txtComputer, &QLineEdit::returnPressed, this, [this] {
        if (!isRunning()) cmdSwitch_Click();
    });

    // The filter comes last in the keyboard order, so Tab through the
    // original controls goes as it always has.
    setTabOrder(cmdExportHTM, filterBar_->field());
    setTabOrder(filterBar_->field(), filterBar_->lamps());
    placeFilterBar();
}

void Main::placeFilterBar() {
    // From the end of the link's text to the grid's right edge, no wider
    // than it needs; the row count goes first where room is short.
    const int linkEnd = website->x() + website->fontMetrics().horizontalAdvance(website->text()) +
                        website->contentsMargins().left() + 16;
    const int right = width() - px(kRightMargin);
    const int left = std::max(linkEnd, right - filterBar_->preferredWidth());
    const int height = std::max(filterBar_->sizeHint().height(), txtComputer->height());
    filterBar_->place(QRect(left, website->y(), std::max(0, right - left), height));
}

void Main::startUp() {
    tmrPing->stop();
    lblCaption->setText(QLatin1Char(' ') + productName() + QStringLiteral(" from ") +
                        productWebsiteHost());
    txtComputer->setText(QString::fromStdString(tavo::target::localComputerName()));
    ComboResize(*this, *cmbFunction);
}

// ---------------------------------------------------------------------------
// Collection cycle

bool Main::isRunning() const {
    return cycle_.running();
}

void Main::showCycleState() {
    const bool running = cycle_.running();
    cmdSwitch->setText(running ? QStringLiteral("STOP") : QStringLiteral("RUN"));
    cmdSwitch->setOn(running);
    // txtFreq stays disabled after a cycle: the next RUN rewrites it anyway.
    if (running) txtFreq->setEnabled(false);
    for (QWidget* w : {static_cast<QWidget*>(cmbFunction), static_cast<QWidget*>(txtComputer),
                       static_cast<QWidget*>(cmdExport), static_cast<QWidget*>(cmdExportHTM)})
        w->setEnabled(!running);
}

void Main::cmdSwitch_Click() {
    const QString computerText = txtComputer->text();
    if (!cycle_.running() && !computerText.isEmpty()) {
        lblCaption->setText(QLatin1Char(' ') + productName() + QStringLiteral(" from ") +
                            productWebsiteHost() + QStringLiteral(" - ") + computerText);
        // Several computers, separated by commas or spaces, are asked
        // together; one is asked as it always was.
        std::vector<std::string> targets;
        for (auto& t : tavo::cycle::splitTargets(computerText.toStdString()))
            if (std::find(targets.begin(), targets.end(), t) == targets.end())
                targets.push_back(std::move(t));
        ++roundsGeneration_;
        roundsStop_.request_stop();
        rounds_.reset();
        if (targets.size() > 1) {
            roundsStop_ = std::stop_source();
            rounds_ = std::make_unique<tavo::cycle::ComputerRounds>(std::move(targets));
            roundTakenIn_ = true;
            rememberComputerList(computerText);
        }
        // A pass of an earlier cycle that is still out is left behind.
        cycle_.start();
        showCycleState();
        tmrPing->start();
        SetGrid();
        txtFreq->setEnabled(false);
        const double seconds = std::floor(txtFreq->text().toDouble());
        tmrPing->setInterval(static_cast<int>(std::lround(seconds * 1000)));
        tmrPing_Timer();
    } else {
        stopBranch();
    }
}

void Main::stopBranch() {
    tmrPing->stop();
    // A pass that is out is told to stop and its rows are dropped; the
    // window does not wait for it, however long its back end takes.
    cycle_.stop();
    // The computers still out are told to stop; what they bring is dropped.
    roundsStop_.request_stop();
    ++roundsGeneration_;
    rounds_.reset();
    takeInTimer_->stop();
    // Remote sessions last as long as the cycle that opened them.
    if (services_.management) services_.management->closeSessions();
    resetPointer();
    showCycleState();
}

void Main::endOfPass() {
    // Always a stop: once the user has pressed STOP during the pass, the
    // caption reads RUN again and a second click would start a new cycle.
    if (isRunning()) stopBranch();
}

void Main::SetGrid() {
    // The old rows go with the old columns: a STOP before the new cycle's
    // first pass ends must leave an empty grid under the new columns, not
    // the old rows' count over blank cells (nor blank lines in an export).
    dropMarking();
    grid_.itemsClear();
    grid_.columnsClear();
    txtFreq->setText(QStringLiteral("60"));
    txtFreq->setVisible(true);
    lblFreq->setVisible(true);
    const tavo::RunLayout layout = tavo::runLayout(cmbFunction->currentText().toStdString());
    txtFreq->setText(QString::number(layout.intervalSeconds));
    txtFreq->setVisible(layout.intervalShown);
    lblFreq->setVisible(layout.intervalShown);
    tavo::addColumns(grid_, layout.columns);
    const tavo::ReportDefinition* report =
        tavo::findReport(cmbFunction->currentText().toStdString());
    gridListsComputers_ = report && report->collector == tavo::CollectorKind::ListComputers;
    gridHasComputerColumn_ = false;
    showEmptyReason({});
    tools_->newCycle();
}

void Main::tmrPing_Timer() {
    if (!cycle_.running()) return;
    const tavo::ReportDefinition* report =
        tavo::findReport(cmbFunction->currentText().toStdString());
    if (!report) {
        // No such category: nothing to collect, but the time is written
        // and the cycle goes on.
        showPassTime(QStringLiteral("Updated ") + timeOfDay(), {});
        tmrPing->start();
        return;
    }
    if (rounds_) {
        // A report of one pass asks each computer once: the cycle ends when
        // the last has answered (or at STOP), however long that takes.
        if (report->onePass && rounds_->round() > 0) return;
        if (report->onePass) tmrPing->stop();
        // A computer that has not answered by now keeps its last rows,
        // marked as old, and the others are asked again.
        if (!roundTakenIn_) takeInComputers(true);
        roundsReport_ = report;
        if (rounds_->round() == 0) setWaitPointer();
        roundTakenIn_ = false;
        startComputerPasses(rounds_->beginRound());
        if (rounds_->roundEnded()) takeInComputers();  // every computer was still out
        return;
    }
    // One pass at a time: a tick while one is out is skipped.
    auto ticket = cycle_.beginPass();
    if (!ticket) return;
    tmrPing->stop();
    setWaitPointer();

    tavo::cycle::PassJob job;
    job.report = report;
    job.computer = computer();
    job.services = {services_.management, services_.network};
    job.grid = tavo::cycle::freshGrid(grid_);
    job.token = ticket->token;
    job.collector = collector_;
    const std::uint64_t id = ticket->id;
    std::shared_ptr<tavo::cycle::WindowPost> post = post_;
    job.intervalVisible = [post, id, this](bool visible) {
        post->post([this, id, visible] {
            if (cycle_.isCurrentPass(id)) setIntervalVisible(visible);
        });
    };
    job.resetPointer = [post, id, this] {
        post->post([this, id] {
            if (cycle_.isCurrentPass(id)) resetPointer();
        });
    };
    tavo::cycle::startPass(std::move(job), [post, id, this](tavo::cycle::PassOutcome outcome) {
        auto shared = std::make_shared<tavo::cycle::PassOutcome>(std::move(outcome));
        post->post([this, id, shared] { passFinished(id, std::move(*shared)); });
    });
}

void Main::passFinished(std::uint64_t id, tavo::cycle::PassOutcome outcome) {
    // A pass of a stopped cycle (or one left behind by a new RUN) is dropped.
    if (!cycle_.finishPass(id)) return;
    resetPointer();
    if (outcome.failure) {
        // The rows of the last good pass stay for export; the cycle stops
        // rather than repeat the failure every interval.
        reportError(*outcome.failure);
        stopBranch();
        return;
    }
    if (outcome.grid) {
        takeResults(*outcome.grid);
        // The pass's grid now holds the previous rows; a big report's
        // strings are freed on a thread of their own, not on this one.
        tavo::background::start([old = std::move(outcome.grid)](std::stop_token) {});
    }
    if (outcome.shownFailure) {
        // A report that could not be collected says why where "Updated"
        // stands (the label is red), not only in its row's tool tip.
        const QString what = QString::fromStdString(outcome.shownFailure->description());
        const QString why =
            QString::fromStdString(outcome.shownFailure->numberText() + ": ") + what;
        // The label is narrow: the reason first, the number in its tool tip.
        showPassTime(what, why);
    } else if (!outcome.emptyReason.empty()) {
        // An empty grid with a blank header says nothing by itself: the
        // whole reason stands in the grid's empty area, and the label marks
        // the pass's time, so a second pass with the same answer is seen.
        const QString why =
            QStringLiteral("No instances: ") + QString::fromStdString(outcome.emptyReason);
        showPassTime(QStringLiteral("No instances at ") + timeOfDay(), why);
        showEmptyReason(why);
    } else if (!outcome.lostValues.empty()) {
        // Cells left empty because a read failed must not pass for values
        // that are not there: the label says how many, its tool tip which.
        const QString text = QStringLiteral("Updated ") + timeOfDay() + QStringLiteral("; ") +
                             QString::fromStdString(outcome.lostValues);
        showPassTime(text, text);
    } else {
        showPassTime(QStringLiteral("Updated ") + timeOfDay(), {});
    }
    if (outcome.emptyReason.empty()) showEmptyReason({});
    if (outcome.endedCycle) endOfPass();
    if (isRunning()) tmrPing->start();
}

// ---------------------------------------------------------------------------
// Several computers

void Main::startComputerPasses(const std::vector<std::size_t>& computers) {
    const tavo::ReportDefinition* report = roundsReport_;
    if (!report) return;
    const std::uint64_t generation = roundsGeneration_;
    std::shared_ptr<tavo::cycle::WindowPost> post = post_;
    for (const std::size_t i : computers) {
        tavo::cycle::PassJob job;
        job.report = report;
        job.computer = rounds_->computer(i);
        job.services = {services_.management, services_.network};
        // Each computer's pass starts from the category's own columns, as
        // tavo-report's do; the Computer column is added when they are combined.
        job.grid = std::make_unique<tavo::grid::Grid>();
        tavo::addColumns(*job.grid, tavo::runLayout(report->category).columns);
        job.token = roundsStop_.get_token();
        job.collector = collector_;
        job.intervalVisible = [post, generation, this](bool visible) {
            post->post([this, generation, visible] {
                if (generation == roundsGeneration_) setIntervalVisible(visible);
            });
        };
        tavo::cycle::startPass(
            std::move(job), [post, generation, i, this](tavo::cycle::PassOutcome outcome) {
                auto shared = std::make_shared<tavo::cycle::PassOutcome>(std::move(outcome));
                post->post([this, generation, i, shared] {
                    computerPassEnded(generation, i, std::move(*shared));
                });
            });
    }
}

void Main::computerPassEnded(std::uint64_t generation, std::size_t computer,
                             tavo::cycle::PassOutcome outcome) {
    // A pass of a stopped cycle (or of one a new RUN left behind) is dropped.
    if (generation != roundsGeneration_ || !rounds_) return;
    startComputerPasses(rounds_->passEnded(computer, std::move(outcome)));
    if (rounds_->roundEnded()) {
        takeInComputers();
    } else if (rounds_->round() == 1 && !takeInTimer_->isActive()) {
        // Nothing is shown yet: show the first answers as they come,
        // a few at a time, rather than wait for the slowest computer.
        takeInTimer_->start();
    }
}

void Main::takeInComputers(bool atTick) {
    takeInTimer_->stop();
    if (!rounds_ || !isRunning()) return;
    // What the label will say is taken now, with the rows as they stand;
    // the rows are combined on a thread of their own (15,000 rows cost tens
    // of milliseconds), so the window only swaps them in.
    auto job = std::make_shared<CombinedRows>();
    job->snapshot = rounds_->snapshot();
    job->generation = roundsGeneration_;
    job->sequence = ++combineSequence_;
    job->ended = rounds_->roundEnded();
    job->whole = job->ended || atTick || rounds_->round() > 1;
    roundTakenIn_ = job->ended;
    job->text = QStringLiteral("Updated ") + timeOfDay() +
                QStringLiteral("; %1 of %2 computers answered")
                    .arg(rounds_->answered())
                    .arg(rounds_->size());
    job->tip = job->text;
    if (const std::size_t stale = rounds_->old(); job->ended && stale > 0)
        job->tip += QStringLiteral("\n%1 not answered in time: their last rows are shown as old")
                        .arg(stale);
    if (const std::string lost = rounds_->lostValues(); !lost.empty())
        job->tip += QStringLiteral("\n") + QString::fromStdString(lost);
    ++combining_;
    std::shared_ptr<tavo::cycle::WindowPost> post = post_;
    tavo::background::start([post, job, this](std::stop_token) {
        job->rows = std::make_unique<tavo::grid::Grid>();
        job->snapshot.combineInto(*job->rows);
        job->snapshot = {};
        post->post([this, job] { combinedRowsReady(*job); });
    });
}

void Main::combinedRowsReady(CombinedRows& job) {
    --combining_;
    // Rows of a stopped cycle, or older than rows already shown, are dropped.
    if (job.generation != roundsGeneration_ || job.sequence < shownSequence_) return;
    shownSequence_ = job.sequence;
    // The first answers of the first round are shown as they come, but the
    // changes are counted from the first whole round.
    takeResults(*job.rows, job.whole);
    gridHasComputerColumn_ = true;
    // `rows` now holds the previous rows: freed on a thread of their own, as a pass's are.
    tavo::background::start([previous = std::move(job.rows)](std::stop_token) {});
    showPassTime(job.text, job.tip == job.text ? QString() : job.tip);
    showEmptyReason({});
    if (job.ended) {
        resetPointer();
        if (roundsReport_ && roundsReport_->onePass) endOfPass();
    }
}

void Main::showPassTime(const QString& text, const QString& toolTip) {
    // The label is narrow: what does not fit is in its tool tip.
    passText_ = text;
    const QString shown = lblTime->fontMetrics().elidedText(text, Qt::ElideRight, lblTime->width());
    lblTime->setText(shown);
    const QString tip = !toolTip.isEmpty() ? toolTip : shown != text ? text : QString();
    lblTime->setToolTip(tip.isEmpty() ? QString() : plainToolTip(tip));
}

void Main::showEmptyReason(const QString& reason) {
    if (!emptyNote_) return;
    emptyNote_->setText(reason);
    emptyNote_->setVisible(!reason.isEmpty());
    if (reason.isEmpty()) return;
    const QRect area = Results->viewport()->rect().adjusted(8, 24, -8, -8);
    emptyNote_->setGeometry(area.x(), area.y(), area.width(),
                            std::min(area.height(), emptyNote_->heightForWidth(area.width())));
}

// Only whole passes are compared, so the rows are taken in as one.
struct Main::Marking {
    std::unique_ptr<tavo::grid::Grid> rows;
    std::vector<std::string> key;
    tavo::grid::PassChanges changes;
    std::mutex mutex;
    std::condition_variable doneChanged;
    bool done = false;

    void wait() {
        std::unique_lock lock(mutex);
        doneChanged.wait(lock, [this] { return done; });
    }
};

namespace {
// Cells from which a pass is compared with the last off the window's thread:
// a comparison reads both grids' every cell, some 20 ms a million cells.
constexpr std::int64_t kCompareAside = 500000;
}  // namespace

void Main::takeResults(tavo::grid::Grid& rows, bool whole) {
    finishMarking();  // an earlier pass first: its comparison reads grid_
    const std::int64_t cells =
        static_cast<std::int64_t>(rows.itemsCount()) * std::max(1, rows.columnsCount());
    if (!tools_->compares(whole) || cells < kCompareAside) {
        takeResultsNow(rows, whole, nullptr);
        return;
    }
    auto job = std::make_shared<Marking>();
    job->rows = std::make_unique<tavo::grid::Grid>();
    // Under the same sort, the order the pass's thread made comes along.
    job->rows->setSort(rows.SortKey(), rows.SortOrder(), rows.Sorted());
    job->rows->takeContents(rows);
    job->key = tools_->rowKey();
    marking_ = job;
    std::shared_ptr<tavo::cycle::WindowPost> post = post_;
    const tavo::grid::Grid* shown = &grid_;
    tavo::background::start([job, post, shown, this](std::stop_token) {
        tavo::grid::PassChanges changes = tavo::grid::comparePasses(*shown, *job->rows, job->key);
        {
            std::lock_guard lock(job->mutex);
            job->changes = std::move(changes);
            job->done = true;
        }
        job->doneChanged.notify_all();
        post->post([this, job] {
            if (marking_ == job) finishMarking();
        });
    });
}

void Main::finishMarking() {
    const std::shared_ptr<Marking> job = dropMarking();
    if (!job) return;
    takeResultsNow(*job->rows, true, &job->changes);
    // `rows` now holds the previous rows: freed on a thread of their own.
    tavo::background::start([previous = std::move(job->rows)](std::stop_token) {});
}

std::shared_ptr<Main::Marking> Main::dropMarking() {
    std::shared_ptr<Marking> job = std::move(marking_);
    if (job) job->wait();
    return job;
}

void Main::takeResultsNow(tavo::grid::Grid& rows, bool whole,
                          const tavo::grid::PassChanges* compared) {
    // The selection survives the swap: rows with a key are found again by
    // it, rows without one keep their place in the view. Rows are read
    // through the model, which knows which grid row each view row shows.
    QItemSelectionModel* selection = Results->selectionModel();
    auto keyAt = [this](int modelRow) -> std::string_view {
        return grid_.item(static_cast<int>(model_->gridRow(modelRow)) + 1).Key();
    };
    std::vector<std::string> keys;
    std::vector<int> places;
    int currentPlace = -1;
    std::string currentKey;
    if (selection && model_) {
        for (const QModelIndex& index : selection->selectedRows()) {
            if (!keyAt(index.row()).empty())
                keys.emplace_back(keyAt(index.row()));
            else
                places.push_back(index.row());
        }
        const QModelIndex current = selection->currentIndex();
        if (current.isValid()) {
            currentPlace = current.row();
            currentKey = keyAt(current.row());
        }
    }
    tools_->takePass(grid_, rows, whole, compared);  // marks what changed since the last pass
    if (!selection || !model_ || (keys.empty() && places.empty() && currentPlace < 0)) return;

    const int count = model_->rowCount();
    std::unordered_map<std::string, int> placeOfKey;
    if (!keys.empty() || !currentKey.empty()) {
        for (int r = 0; r < count; ++r) {
            const std::string_view key = keyAt(r);
            if (!key.empty()) placeOfKey.emplace(std::string(key), r);
        }
    }
    QItemSelection chosen;
    auto choose = [&](int place) {
        if (place < 0 || place >= count) return;
        chosen.select(model_->index(place, 0), model_->index(place, model_->columnCount() - 1));
    };
    for (const auto& key : keys)
        if (auto it = placeOfKey.find(key); it != placeOfKey.end()) choose(it->second);
    for (int place : places) choose(place);
    selection->select(chosen, QItemSelectionModel::ClearAndSelect);
    int newCurrent = currentPlace;
    if (!currentKey.empty()) {
        auto it = placeOfKey.find(currentKey);
        newCurrent = it == placeOfKey.end() ? -1 : it->second;
    }
    if (newCurrent >= 0 && newCurrent < count)
        selection->setCurrentIndex(model_->index(newCurrent, 0), QItemSelectionModel::NoUpdate);
}

void Main::reportError(const tavo::Error& error) {
    resetPointer();
    const QString text = QStringLiteral("Error %1\n\n%2")
                             .arg(QString::fromStdString(error.numberText()),
                                  QString::fromStdString(error.description()));
    services_.dialogs->message(this, text, productName(), Dialogs::Buttons::Ok,
                               Dialogs::Icon::Critical);
}

// ---------------------------------------------------------------------------
// What the window shows of the cycle

std::string Main::computer() const {
    return txtComputer->text().toStdString();
}

void Main::setIntervalVisible(bool visible) {
    txtFreq->setVisible(visible);
    lblFreq->setVisible(visible);
}

void Main::setWaitPointer() {
    if (waitPointer_) return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    waitPointer_ = true;
}

void Main::resetPointer() {
    if (!waitPointer_) return;
    QApplication::restoreOverrideCursor();
    waitPointer_ = false;
}

tavo::wmi::ConnectionFactory& Main::management() {
    if (!services_.management)
        throw tavo::Error(tavo::errc::kFailed, "No management service is available");
    return *services_.management;
}

// ---------------------------------------------------------------------------
// Grid actions

void Main::cmdExport_Click() {
    exportResults(this, *services_.dialogs, grid_, tools_->shownView(), txtComputer->text(),
                  cmbFunction->currentText(), ExportFormat::Csv);
}

void Main::cmdExportHTM_Click() {
    exportResults(this, *services_.dialogs, grid_, tools_->shownView(), txtComputer->text(),
                  cmbFunction->currentText(), ExportFormat::Html);
}

void Main::Results_ColumnClick(int column) {
    tavo::grid::columnClick(grid_, column, sortdirection_);
}

// ---------------------------------------------------------------------------
// Target computer menu

void Main::Results_DblClick(const QModelIndex& index) {
    // A computer of the network list becomes the target; while a cycle
    // runs the target stays what that cycle reports on.
    if (isRunning() || !index.isValid()) return;
    // The rows shown decide, not the report chosen since.
    if (!gridListsComputers_) return;
    const QString name =
        index.sibling(index.row(), computerNameColumn()).data(Qt::DisplayRole).toString();
    if (!name.isEmpty()) txtComputer->setText(name);
}

int Main::computerNameColumn() const {
    // The Computer column of several computers comes before the names.
    return gridHasComputerColumn_ ? 2 : 1;
}

void Main::txtComputer_Click(const QPoint& globalPos) {
    if (!txtComputer->isEnabled()) return;
    mnuComputer->popup(globalPos);
}

void Main::mnuComputerName_Click() {
    txtComputer->setText(QString::fromStdString(tavo::target::localComputerName()));
}

void Main::mnuCustomComputer_Click() {
    txtComputer->setText(QString());
}

void Main::mnuComputersFromFile_Click() {
    const std::optional<QString> path =
        services_.dialogs->chooseFile(this, QStringLiteral("Computers from a file"));
    if (!path || path->isEmpty()) return;
    const ComputerFile file = readComputerFile(*path);
    if (!file.error.isEmpty()) {
        services_.dialogs->message(this, file.error, productName(), Dialogs::Buttons::Ok,
                                   Dialogs::Icon::Warning);
        return;
    }
    txtComputer->setText(QString::fromStdString(tavo::cycle::joinTargets(file.computers)));
    txtComputer->setCursorPosition(0);
}

void Main::mnuListedComputers_Click() {
    if (isRunning() || !gridListsComputers_) return;
    // The rows as shown, so a filtered neighbourhood is the list.
    const int nameColumn = computerNameColumn();
    std::vector<std::string> names;
    for (int r = 0; r < filter_->rowCount(); ++r) {
        const QString name = filter_->index(r, nameColumn).data(Qt::DisplayRole).toString();
        std::string text = name.trimmed().toStdString();
        if (!text.empty() && std::find(names.begin(), names.end(), text) == names.end())
            names.push_back(std::move(text));
    }
    if (names.empty()) return;
    txtComputer->setText(QString::fromStdString(tavo::cycle::joinTargets(names)));
    txtComputer->setCursorPosition(0);
}

QStringList Main::recentComputerLists() const {
    if (!services_.settings) return {};
    QStringList lists = services_.settings->value(QLatin1String(kRecentListsKey)).toStringList();
    while (lists.size() > kRecentLists) lists.removeLast();
    return lists;
}

void Main::rememberComputerList(const QString& text) {
    if (!services_.settings) return;
    QStringList lists = recentComputerLists();
    const QString shown = QString::fromStdString(
        tavo::cycle::joinTargets(tavo::cycle::splitTargets(text.toStdString())));
    lists.removeAll(shown);
    lists.prepend(shown);
    while (lists.size() > kRecentLists) lists.removeLast();
    services_.settings->setValue(QLatin1String(kRecentListsKey), lists);
}

void Main::fillComputerMenu() {
    mnuListedComputers->setEnabled(gridListsComputers_ && !isRunning() && filter_ &&
                                   filter_->rowCount() > 0);
    for (QAction* a : mnuRecent_) {
        mnuComputer->removeAction(a);
        a->deleteLater();
    }
    mnuRecent_.clear();
    const QStringList lists = recentComputerLists();
    mnuRecentSeparator->setVisible(!lists.isEmpty());
    for (const QString& list : lists) {
        // A long list is cut in the menu; its tool tip holds the whole of it.
        const QString shown = mnuComputer->fontMetrics().elidedText(list, Qt::ElideRight, 400);
        QAction* a =
            mnuComputer->addAction(QString(shown).replace(QLatin1Char('&'), QLatin1String("&&")));
        a->setToolTip(list);
        connect(a, &QAction::triggered, this, [this, list] {
            txtComputer->setText(list);
            txtComputer->setCursorPosition(0);
        });
        mnuRecent_.push_back(a);
    }
    mnuComputer->setToolTipsVisible(true);
}

void Main::mnuPrimaryDNS_Click() {
    // Always this computer's adapters, whatever the field names.
    std::string local = tavo::target::localComputerName();
    if (local.empty()) local = ".";
    setWaitPointer();
    try {
        if (auto server = tavo::target::primaryDnsServer(management(), local))
            txtComputer->setText(QString::fromStdString(*server));
        resetPointer();
    } catch (const tavo::Error& e) {
        reportError(e);
    } catch (const std::exception& e) {
        reportError(tavo::Error(kUnexpectedFailure, e.what()));
    }
}

// ---------------------------------------------------------------------------
// Window frame

void Main::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Form_Resize();
}

void Main::Form_Resize() {
    const double W = twips(width());
    const double H = twips(height());
    const double captionHeight = twips(lblCaption->height());
    const double stripHeight = twips(txtComputer->height());

    lblCaption->resize(px(W), lblCaption->height());
    const double closeLeft = W - twips(Close->width()) - kRightMargin;
    Close->move(px(closeLeft), Close->y());
    const double maximiseLeft = closeLeft - twips(Maximise->width()) - kPictureGap;
    Maximise->move(px(maximiseLeft), Maximise->y());
    website->resize(px(W), website->height());
    website->move(website->x(), px(H - captionHeight - stripHeight));
    const double gridTop = twips(Results->y());
    const double gridHeight = H - gridTop - captionHeight - stripHeight - kWebsiteGap;
    Results->resize(px(W - kRightMargin), std::max(0, px(gridHeight)));
    // The strip's width beyond the design goes two thirds to the computer
    // field (a list of computers, a long ssh:// text) and a third to the
    // time label; the controls between them move along.
    const double free = std::max(0.0, W - kDesignWidth);
    const double grow = std::floor(free * 2 / 3);
    txtComputer->resize(px(kComputerWidth + grow), txtComputer->height());
    for (QWidget* w : {static_cast<QWidget*>(cmdSwitch), static_cast<QWidget*>(cmdExport),
                       static_cast<QWidget*>(cmdExportHTM), static_cast<QWidget*>(txtFreq),
                       static_cast<QWidget*>(lblFreq), static_cast<QWidget*>(lblTime)}) {
        w->move(px(designLeft(w) + grow), w->y());
    }
    lblTime->resize(px(kStripEnd - designLeft(lblTime) + free - grow), lblTime->height());
    if (!passText_.isEmpty())
        lblTime->setText(
            lblTime->fontMetrics().elidedText(passText_, Qt::ElideRight, lblTime->width()));
    if (emptyNote_ && emptyNote_->isVisible()) showEmptyReason(emptyNote_->text());
    sizeGrip->move(width() - sizeGrip->width(), height() - sizeGrip->height());
    if (filterBar_) placeFilterBar();
}

void Main::lblCaption_MouseDown(Qt::MouseButton, QPointF at) {
    // Where the window system keeps the placing of windows to itself (Wayland),
    // ask it to run the move; elsewhere follow the pointer ourselves.
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")) && windowHandle() &&
        windowHandle()->startSystemMove())
        return;
    dragging_ = true;
    dragx_ = at.x();
    dragy_ = at.y();
}

void Main::moveByDrag(QPointF at) {
    const double left = twips(x()) + at.x() - dragx_;
    const double top = twips(y()) + at.y() - dragy_;
    move(px(left), px(top));
}

void Main::lblCaption_MouseMove(QPointF at) {
    if (dragging_) moveByDrag(at);
}

void Main::lblCaption_MouseUp(QPointF at) {
    if (dragging_) moveByDrag(at);
    dragging_ = false;
}

void Main::Maximise_Click() {
    if (windowState() & (Qt::WindowMaximized | Qt::WindowMinimized))
        setWindowState(windowState() & ~(Qt::WindowMaximized | Qt::WindowMinimized));
    else
        setWindowState(windowState() | Qt::WindowMaximized);
    Form_Resize();
}

void Main::Close_Click() {
    close();
}

void Main::closeEvent(QCloseEvent* event) {
    // The cycle's timer ends with the window.
    tmrPing->stop();
    LayoutStore(services_.settings.get()).setWindowGeometry(saveGeometry());
    QWidget::closeEvent(event);
}

void Main::website_Click() {
    if (!services_.dialogs->openUrl(productWebsite())) {
        services_.dialogs->message(
            this, QStringLiteral("Error launching website - ") + productWebsiteHost(),
            productName(), Dialogs::Buttons::Ok, Dialogs::Icon::Warning);
    }
}

bool Main::eventFilter(QObject* watched, QEvent* event) {
    const auto type = event->type();
    const bool mouse = type == QEvent::MouseButtonPress || type == QEvent::MouseMove ||
                       type == QEvent::MouseButtonRelease;
    if (!mouse) return QWidget::eventFilter(watched, event);
    auto* me = static_cast<QMouseEvent*>(event);
    const QPointF at = me->position() * kTwipsPerPixel;
    if (watched == lblCaption) {
        if (type == QEvent::MouseButtonPress)
            lblCaption_MouseDown(me->button(), at);
        else if (type == QEvent::MouseMove)
            lblCaption_MouseMove(at);
        else
            lblCaption_MouseUp(at);
        return true;
    }
    if (watched == txtComputer && type == QEvent::MouseButtonPress &&
        me->button() == Qt::LeftButton) {
        // Let the field place its cursor first, then offer the choices.
        static_cast<QObject*>(txtComputer)->event(event);
        txtComputer_Click(me->globalPosition().toPoint());
        return true;
    }
    const bool click = type == QEvent::MouseButtonRelease && me->button() == Qt::LeftButton &&
                       static_cast<QWidget*>(watched)->rect().contains(me->position().toPoint());
    if (click && watched == Maximise) {
        Maximise_Click();
        return true;
    }
    if (click && watched == Close) {
        Close_Click();
        return true;
    }
    if (click && watched == website) {
        website_Click();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}
