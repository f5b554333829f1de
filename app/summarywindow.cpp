#include "summarywindow.h"

#include "session.h"
#include "shell.h"
#include "texturedbutton.h"

#include "scores/exchange.h"
#include "scores/replayfile.h"
#include "ui/accessibility.h"
#include "ui/leddisplay.h"
#include "ui/threedbutton.h"
#include "ui/threedpanel.h"
#include "ui/windowstyle.h"

#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QTimer>

#include <cmath>

namespace zimble {

using namespace ui;

namespace {

const QString DefaultName = QStringLiteral("Enter your name here");

} // namespace

SummaryWindow::SummaryWindow(Session& session, double gameScore, int boardSize, std::optional<GameReplay> replay,
                             QWidget* parent)
    : QDialog(parent)
    , m_session(session)
    , m_gameScore(gameScore)
    , m_boardSize(boardSize)
    , m_replay(std::move(replay))
{
    setObjectName(QStringLiteral("summaryWindow"));
    setupWindow(this, 9360, 7005, Peach);
    buildControls();
    load();
}

SummaryWindow::~SummaryWindow() = default;

LedDisplay* SummaryWindow::bestDisplay(int board) const
{
    return isBoardSize(board) ? m_bests[std::size_t(slot(board))] : nullptr;
}

LedDisplay* SummaryWindow::worldHighDisplay(int board) const
{
    return isBoardSize(board) ? m_worldHighs[std::size_t(slot(board))] : nullptr;
}

ThreeDPanel* SummaryWindow::holderPanel(int board) const
{
    return isBoardSize(board) ? m_holders[std::size_t(slot(board))] : nullptr;
}

void SummaryWindow::buildControls()
{
    const QColor buttonText = palette().color(QPalette::ButtonText);
    auto panel = [&](const QString& name, double l, double t, double w, double h) {
        auto* p = new ThreeDPanel(this);
        p->setObjectName(name);
        p->setFont(sansFont(8.25));
        p->setBackColor(Peach);
        p->setForeColor(buttonText);
        place(p, l, t, w, h);
        return p;
    };
    auto label = [&](const QString& name, const QString& text, double l, double t, double w, double h,
                     Qt::Alignment align) {
        auto* lb = new QLabel(text, this);
        lb->setObjectName(name);
        lb->setFont(sansFont(9.75));
        lb->setAlignment(align);
        place(lb, l, t, w, h);
        return lb;
    };
    auto led = [&](const QString& name, double l, double t) {
        auto* d = new LedDisplay(this);
        d->setObjectName(name);
        d->setDigitCount(ScoreDisplayDigits);
        d->setFocusPolicy(Qt::NoFocus); // Tab goes to what the player can use
        d->setDecimals(2);
        place(d, l, t, 2700, 645);
        return d;
    };
    auto button = [&](const QString& name, const QString& caption, double l) {
        return texturedButton(this, name, caption, l, 6525, 1200, 390);
    };

    // One row per board size, smallest first.
    const double rowTop[BoardSizeCount] = {1650, 2445, 3255, 4050};
    const double ledTop[BoardSizeCount] = {1500, 2295, 3105, 3900};
    const double holderTop[BoardSizeCount] = {1575, 2370, 3180, 3975};
    for (int k = 0; k < BoardSizeCount; ++k) {
        const int board = MinBoardSize + k;
        label(QStringLiteral("rowLabel%1").arg(board), QStringLiteral("%1 Game").arg(board), 180, rowTop[k], 1215, 495,
              Qt::AlignLeft | Qt::AlignTop);
        m_bests[std::size_t(k)] = led(QStringLiteral("best%1").arg(board), 1080, ledTop[k]);
    }
    for (int k = 0; k < BoardSizeCount; ++k)
        m_worldHighs[std::size_t(k)] = led(QStringLiteral("worldHigh%1").arg(MinBoardSize + k), 3810, ledTop[k]);
    label(QStringLiteral("bestsHeading"), QStringLiteral("Your High ZQs"), 1335, 990, 2415, 495,
          Qt::AlignHCenter | Qt::AlignTop);
    label(QStringLiteral("worldHighsHeading"), QStringLiteral("WorldWideHigh ZQs"), 4020, 990, 2490, 495,
          Qt::AlignHCenter | Qt::AlignTop);

    m_instructions = panel(QStringLiteral("instructions"), 1995, 4650, 5265, 840);
    m_instructions->setCaption(QStringLiteral("To update the WorldWide high ZQs, click the update button and they will "
                                              "be retrieved from the Internet. If your ZQ is higher, you will become a "
                                              "new record holder."));

    m_updateButton = button(QStringLiteral("updateButton"), QStringLiteral("&Update"), 6255);
    m_exitButton = button(QStringLiteral("exitButton"), QStringLiteral("E&xit"), 7755);
    m_holders[0] = panel(QStringLiteral("holder4"), 6585, holderTop[0], 2670, 450);
    label(QStringLiteral("holdersHeading"), QStringLiteral("Record Holders"), 6675, 990, 2490, 495,
          Qt::AlignHCenter | Qt::AlignTop);
    for (int k = 1; k < BoardSizeCount; ++k)
        m_holders[std::size_t(k)] = panel(QStringLiteral("holder%1").arg(MinBoardSize + k), 6585, holderTop[k], 2670, 450);
    m_webPageButton = button(QStringLiteral("webPageButton"), QStringLiteral("&Web Page"), 4755);

    // Each display and holder named by its row and column, as a screen reader says them.
    for (int board = MinBoardSize; board <= MaxBoardSize; ++board) {
        const QString size = QStringLiteral("%1 x %1").arg(board);
        bestDisplay(board)->setAccessibleName(QStringLiteral("Your high ZQ, ") + size);
        worldHighDisplay(board)->setAccessibleName(QStringLiteral("World-wide high ZQ, ") + size);
        holderPanel(board)->setAccessibleName(QStringLiteral("Record holder, ") + size);
    }

    m_headline = panel(QStringLiteral("headline"), 765, 195, 7680, 510);
    m_headline->setFont(arialFont(15.75));
    m_headline->setForeColor(QColor(0, 0, 255));
    m_status = panel(QStringLiteral("statusLine"), 1995, 5520, 5265, 840);
    m_status->setAccessibleDescription(QStringLiteral("Score service status"));
    m_status->setForeColor(QColor(255, 0, 0));
    // Under the status line while a request is under way: how much of its time limit has passed.
    m_waitBar = new QProgressBar(this);
    m_waitBar->setObjectName(QStringLiteral("waitBar"));
    m_waitBar->setRange(0, 1000);
    m_waitBar->setTextVisible(false);
    m_waitBar->setFocusPolicy(Qt::NoFocus);
    m_waitBar->setVisible(false);
    m_waitBar->setAccessibleName(QStringLiteral("Waiting for the score service"));
    place(m_waitBar, 1995, 6390, 5265, 90);
    m_waitTicker = new QTimer(this);
    m_waitTicker->setInterval(100);
    connect(m_waitTicker, &QTimer::timeout, this, &SummaryWindow::showWaiting);

    m_nameEdit = new QLineEdit(this);
    m_nameEdit->setObjectName(QStringLiteral("nameEdit"));
    place(m_nameEdit, 1080, 6540, 2490, 360);
    QLabel* nameLabel =
        label(QStringLiteral("nameLabel"), QStringLiteral("Name:"), 180, 6570, 1215, 495, Qt::AlignLeft | Qt::AlignTop);
    nameLabel->setBuddy(m_nameEdit);

    // Tab walks the bottom row as it stands on screen; the window opens on Update.
    setTabOrder(m_nameEdit, m_webPageButton);
    setTabOrder(m_webPageButton, m_updateButton);
    setTabOrder(m_updateButton, m_exitButton);
    m_updateButton->setFocus();

    connect(m_webPageButton, &QAbstractButton::clicked, this, &SummaryWindow::onWebPageClicked);
    connect(m_updateButton, &QAbstractButton::clicked, this, &SummaryWindow::onUpdateClicked);
    connect(m_exitButton, &QAbstractButton::clicked, this, [this] { done(QDialog::Accepted); });

    m_transfer = new HttpTransfer(this);
    m_transfer->setObjectName(QStringLiteral("transfer"));
    connect(m_transfer, &HttpTransfer::stateChanged, this, &SummaryWindow::onTransferStateChanged);
    m_replayTransfer = new HttpTransfer(this);
    m_replayTransfer->setObjectName(QStringLiteral("replayTransfer"));
    connect(m_replayTransfer, &HttpTransfer::stateChanged, this, &SummaryWindow::onReplayTransferStateChanged);
}

QString SummaryWindow::scoreLine(double score)
{
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    // Whole number, halves away from zero.
    const double whole = std::round(score);
    const qint64 shown = std::fabs(whole) < 9.2e18 ? static_cast<qint64>(whole) : 0;
    return QStringLiteral("You scored a ZQ of ") + locale.toString(shown);
}

void SummaryWindow::showStatus(const QString& text)
{
    m_status->setCaption(text);
    // A screen reader speaks every new message at once, wherever the focus is.
    if (!text.isEmpty())
        announce(m_status);
}

void SummaryWindow::reportFileError(const QString& error)
{
    // Once per window: the same unusable file would otherwise be reported at every step.
    if (m_fileErrorReported)
        return;
    m_fileErrorReported = true;
    m_session.showMessage(this, error + QStringLiteral(" The game goes on, but this change is not kept."));
}

void SummaryWindow::load()
{
    setWindowTitle(Title + QStringLiteral(" ZQ Summary"));

    ScoreRecord& record = m_session.scores();
    const bool loaded = loadRecord();
    const FixedPoint score = FixedPoint::fromDouble(m_gameScore);
    const bool newBest = isBoardSize(m_boardSize) && score > record.bests[m_boardSize];
    if (newBest)
        record.bests[m_boardSize] = score;

    for (int board = MinBoardSize; board <= MaxBoardSize; ++board) {
        bestDisplay(board)->setValue(record.bests[board].toDouble());
        worldHighDisplay(board)->setValue(record.worldHighs[board].toDouble());
        holderPanel(board)->setCaption(shownText(record.holders[board]));
    }
    // A name that starts with NUL has never been set.
    if (record.playerName.isEmpty() || record.playerName.at(0) == QChar(0))
        record.playerName = fixedText(DefaultName);
    m_nameEdit->setText(shownText(record.playerName));

    // A file that could not be read is never overwritten.
    if (loaded) {
        QString error;
        if (!saveScores(m_session.scoreFileName(), record, &error))
            reportFileError(error);
        else if (newBest)
            keepReplay();
    }

    m_headline->setCaption(scoreLine(m_gameScore));
    showStatus(QString());
}

bool SummaryWindow::loadRecord()
{
    ScoreRecord& record = m_session.scores();
    const QString file = m_session.scoreFileName();
    QString error;
    if (!loadScores(file, record, &error)) {
        reportFileError(error);
        return false;
    }
    const QString damage = recordDamage(record);
    if (damage.isEmpty())
        return true;
    if (m_damageKept) {
        // Kept aside once already, but the fresh record could not replace it: leave it alone.
        reportFileError(describeFileError(QStringLiteral("score file"), QStringLiteral("used"), file,
                                          QStringLiteral("it still holds the damaged record")));
        return false;
    }
    // Its bytes are copied aside before anything is saved over them; the game goes on afresh.
    const QString copy = keepDamagedCopy(file, QDateTime::currentDateTime(), &error);
    if (copy.isEmpty()) {
        reportFileError(error);
        return false;
    }
    m_damageKept = true;
    // Only the damaged values go; every sound best, world high, holder and the name stay.
    QStringList reset = resetDamagedValues(record);
    const QString last = reset.takeLast();
    const QString resetList = reset.isEmpty() ? last : reset.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last;
    m_session.showMessage(this, QStringLiteral("The score file \"%1\" looks damaged: %2. Its bytes are kept in \"%3\". "
                                               "The game reset %4 and kept every other value.")
                                    .arg(QFileInfo(file).absoluteFilePath(), damage, QFileInfo(copy).absoluteFilePath(),
                                         resetList));
    return true;
}

void SummaryWindow::keepReplay()
{
    // Only the game that set the best, and only when its replay gives exactly that score.
    if (!m_replay || m_replay->boardSize != m_boardSize
        || m_replay->score() != m_session.scores().bests[m_boardSize])
        return;
    ReplayRecord replays;
    QString error;
    if (!loadReplays(m_session.replayFileName(), replays, &error)) {
        reportFileError(error); // an unreadable replay file is left as it is
        return;
    }
    replays.byBoard[std::size_t(m_boardSize)] = *m_replay;
    if (!saveReplays(m_session.replayFileName(), replays, &error))
        reportFileError(error);
}

void SummaryWindow::unload()
{
    m_transfer->cancel(); // an abandoned exchange's reply is never applied
    m_replayTransfer->cancel();
    showWaiting();
    m_nameEdit->setText(replaceReservedCharacters(m_nameEdit->text()));
    if (!loadRecord())
        return;
    ScoreRecord& record = m_session.scores();
    QString error;
    // A pasted control character is stored as a space: the file holds nothing it would not read.
    record.playerName = fixedText(replaceControlCharacters(m_nameEdit->text()));
    if (!saveScores(m_session.scoreFileName(), record, &error))
        reportFileError(error);
}

void SummaryWindow::done(int result)
{
    // Every way of closing (Exit, Esc, the close box) unloads the window once.
    if (!m_unloaded) {
        m_unloaded = true;
        unload();
    }
    QDialog::done(result);
}

void SummaryWindow::onWebPageClicked()
{
    m_session.openWebPage(gamePageAddress(m_session.scoreHost()), this);
}

void SummaryWindow::onUpdateClicked()
{
    if (trimSpaces(m_nameEdit->text()) == DefaultName) {
        m_session.showMessage(this, QStringLiteral("Enter a name in the Name field at the lower left and click UPDATE "
                                                   "again. This name will be used if your ZQ is higher than any "
                                                   "previously recorded ZQ."));
        return;
    }
    m_nameEdit->setText(replaceReservedCharacters(m_nameEdit->text()));
    sendScores();
}

QUrl SummaryWindow::requestUrl(const QString& target) const
{
    // The path and numbers are plain ASCII; the name (fifth value) is encoded octet by octet
    // in UTF-8, so spaces, '%', '#' and any other text reach the service exactly as typed.
    const qsizetype q = target.indexOf(QLatin1Char('?'));
    const QString path = target.left(q);
    const QStringList values = target.mid(q + 1).split(QLatin1Char('&'));
    QStringList encoded;
    for (const QString& v : values)
        encoded << QString::fromLatin1(QUrl::toPercentEncoding(v));
    return QUrl(QStringLiteral("http://") + m_session.scoreHost() + path + QLatin1Char('?')
                    + encoded.join(QLatin1Char('&')),
                QUrl::StrictMode);
}

void SummaryWindow::sendScores()
{
    if (isUpdating())
        return; // one exchange at a time
    m_nameEdit->setText(replaceReservedCharacters(m_nameEdit->text()));
    ScoreRecord& record = m_session.scores();
    BoardScores bests{};
    for (int board = MinBoardSize; board <= MaxBoardSize; ++board) {
        // Whole numbers in memory only; the file keeps the fractions.
        const std::int32_t whole = toInt32HalfEven(record.bests[board].toDouble());
        record.bests[board] = FixedPoint::fromInt(whole);
        bests[std::size_t(slot(board))] = whole;
    }
    m_sentBests = bests;
    m_transfer->start(requestUrl(requestTarget(bests, trimSpaces(m_nameEdit->text()))));
    showWaiting();
}

void SummaryWindow::onTransferStateChanged(HttpTransfer::State state)
{
    using State = HttpTransfer::State;
    switch (state) {
    case State::ResolvingHost:
        showStatus(QStringLiteral("Looking up the IP address of the specified host computer."));
        break;
    case State::HostResolved:
        showStatus(QStringLiteral("Successfully found the IP\u00A0address of the specified host computer"));
        break;
    case State::Connecting: showStatus(QStringLiteral("Connecting to the host computer.")); break;
    case State::Connected: showStatus(QStringLiteral("Successfully connected to the host computer.")); break;
    case State::SendingRequest: showStatus(QStringLiteral("Sending a request to the host computer.")); break;
    case State::RequestSent: showStatus(QStringLiteral("Successfully sent the request.")); break;
    case State::ReceivingResponse:
        showStatus(QStringLiteral("Receiving a response from the host computer."));
        break;
    case State::ResponseReceived: showStatus(QString()); break;
    case State::Failed: {
        // A service that answers with an error status may still say why in a proper reply;
        // the player reads that, and nothing of it is applied.
        const std::optional<ScoreReply> reply =
            m_transfer->httpStatus() >= 400 ? parseReply(m_transfer->body()) : std::nullopt;
        // An error status comes with its number; a service that could not be reached, or a
        // redirect that could not be followed, is told in words alone.
        const QString told = m_transfer->httpStatus() >= 400
            ? QStringLiteral("%1: %2").arg(m_transfer->errorCode()).arg(m_transfer->errorText())
            : m_transfer->errorText();
        showStatus(reply && !reply->message.trimmed().isEmpty() ? reply->message : told);
        break;
    }
    case State::Completed:
        showStatus(QStringLiteral("The request has completed and all data has been received."));
        if (applyReply())
            sendReplays();
        break;
    case State::Disconnecting:
    case State::Disconnected: break;
    }
    showWaiting();
}

void SummaryWindow::showWaiting()
{
    // While a request is under way: a busy cursor, and the bar fills up towards the time limit.
    HttpTransfer* running = m_transfer->isRunning() ? m_transfer : m_replayTransfer->isRunning() ? m_replayTransfer : nullptr;
    if (!running) {
        m_waitTicker->stop();
        m_waitBar->setVisible(false);
    m_waitBar->setAccessibleName(QStringLiteral("Waiting for the score service"));
        unsetCursor();
        return;
    }
    if (!m_waitTicker->isActive()) {
        setCursor(Qt::BusyCursor);
        m_waitTicker->start();
    }
    const qint64 passed = running->elapsedMs() * m_waitBar->maximum() / qMax(1, running->timeoutMs());
    m_waitBar->setValue(int(qMin<qint64>(passed, m_waitBar->maximum())));
    m_waitBar->setVisible(true);
}

bool SummaryWindow::applyReply()
{
    const std::optional<ScoreReply> reply = parseReply(m_transfer->body());
    if (!reply) {
        showStatus(QStringLiteral("The score service sent a reply that could not be understood; "
                                            "nothing was changed."));
        return false;
    }
    if (!loadRecord())
        return false;
    ScoreRecord& record = m_session.scores();
    QString error;
    for (int board = MinBoardSize; board <= MaxBoardSize; ++board) {
        const std::size_t k = std::size_t(slot(board));
        const FixedPoint high = FixedPoint::fromDouble(reply->highs[k]);
        worldHighDisplay(board)->setValue(high.toDouble());
        holderPanel(board)->setCaption(reply->holders[k]);
        record.worldHighs[board] = high;
        record.holders[board] = fixedText(reply->holders[k]);
    }
    if (!saveScores(m_session.scoreFileName(), record, &error))
        reportFileError(error);
    showStatus(reply->message);
    m_exchangeMessage = reply->message;
    return true;
}

void SummaryWindow::sendReplays()
{
    // The replays of the bests just sent, each only where it gives exactly the best on file.
    ReplayRecord replays;
    if (!loadReplays(m_session.replayFileName(), replays, nullptr))
        replays = ReplayRecord(); // already told when the game was kept; the exchange goes on
    std::vector<SubmittedReplay> submitted;
    for (int board = MinBoardSize; board <= MaxBoardSize; ++board) {
        const std::optional<GameReplay>& r = replays.byBoard[std::size_t(board)];
        const qint64 whole = m_sentBests[std::size_t(slot(board))];
        if (r && r->boardSize == board && r->score() == m_session.scores().bests[board]
            && toInt32HalfEven(r->score().toDouble()) == whole)
            submitted.push_back({whole, *r});
    }
    if (submitted.empty())
        return; // the exchange's message, with the player's ranks, stands
    m_replayTransfer->start(requestUrl(replayRequestTarget(trimSpaces(m_nameEdit->text()), submitted)));
    showWaiting();
}

void SummaryWindow::onReplayTransferStateChanged(HttpTransfer::State state)
{
    showWaiting();
    if (state == HttpTransfer::State::Completed) {
        // One line for the status panel; anything after it, and control characters, are dropped.
        const QString line = replaceControlCharacters(m_replayTransfer->body().section(QLatin1Char('\n'), 0, 0)).trimmed();
        if (!line.isEmpty())
            showStatus(line);
    } else if (state == HttpTransfer::State::Failed && m_replayTransfer->httpStatus() != 404) {
        // A service that does not know replays answers 404 and the exchange's message stands.
        showStatus(m_exchangeMessage + QStringLiteral(" Your replays could not be checked just now."));
    }
}

} // namespace zimble
