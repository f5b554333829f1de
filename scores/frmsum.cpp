#include "frmsum.h"

#include "exchange.h"
#include "inet.h"
#include "scorefile.h"

#include "app/shell.h"
#include "game/module1.h"
#include "ui/forms.h"
#include "ui/numled.h"
#include "ui/threedbutton.h"
#include "ui/threedpanel.h"

#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QRegularExpression>
#include <QUrl>

#include <cmath>

namespace zimble {

using namespace ui;
using namespace Module1;

namespace {

const QString DefaultName = QStringLiteral("Enter your name here");

} // namespace

frmSum::frmSum(const NumLed* gameLed, QWidget* parent)
    : QDialog(parent)
    , m_gameLed(gameLed)
    , m_scoreHost(scoreHost())
{
    setObjectName(QStringLiteral("frmSum"));
    setupWindow(this, 9360, 7005, Peach);
    buildControls();
    Form_Load();
}

frmSum::~frmSum() = default;

void frmSum::buildControls()
{
    const QColor buttonText = palette().color(QPalette::ButtonText);
    auto panel = [&](int index, double l, double t, double w, double h) {
        auto* p = SSPanel2.add(index, new ThreeDPanel(this));
        p->setFont(sansFont(8.25));
        p->setBackColor(Peach);
        p->setForeColor(buttonText);
        place(p, l, t, w, h);
        return p;
    };
    auto label = [&](int index, const QString& text, double l, double t, double w, double h, Qt::Alignment align) {
        auto* lb = Label1.add(index, new QLabel(text, this));
        lb->setFont(sansFont(9.75));
        lb->setAlignment(align);
        place(lb, l, t, w, h);
        return lb;
    };
    auto led = [&](int index, double l, double t) {
        auto* d = LED.add(index, new NumLed(this));
        d->setDigitCount(9);
        d->setDecimals(2);
        place(d, l, t, 2700, 645);
        return d;
    };
    auto button = [&](ControlArray<ThreeDButton>& array, int index, const QString& caption, double l) {
        auto* b = array.add(index, new ThreeDButton(caption, this));
        b->setFont(sansFont(8.25));
        b->setPicture(QPixmap(QStringLiteral(":/pictures/button.jpg")));
        place(b, l, 6525, 1200, 390);
        return b;
    };

    // Created in tab order, so that Tab walks the displays, the buttons and then the name box.
    const double rowTop[4] = {1650, 2445, 3255, 4050};
    const double ledTop[4] = {1500, 2295, 3105, 3900};
    const double holderTop[4] = {1575, 2370, 3180, 3975};
    for (int k = 0; k < 4; ++k) {
        label(k, QStringLiteral("%1 Game").arg(4 + k), 180, rowTop[k], 1215, 495, Qt::AlignLeft | Qt::AlignTop);
        led(k, 1080, ledTop[k]);
    }
    for (int k = 0; k < 4; ++k)
        led(4 + k, 3810, ledTop[k]);
    label(4, QStringLiteral("Your High ZQs"), 1335, 990, 2415, 495, Qt::AlignHCenter | Qt::AlignTop);
    label(5, QStringLiteral("WorldWideHigh ZQs"), 4020, 990, 2490, 495, Qt::AlignHCenter | Qt::AlignTop);

    SSPanel1 = new ThreeDPanel(QStringLiteral("To update the WorldWide high ZQs, click the update button and they will be "
                                              "retrieved from the Internet. If your ZQ is higher, you will become a new "
                                              "record holder."),
                               this);
    SSPanel1->setObjectName(QStringLiteral("SSPanel1"));
    SSPanel1->setFont(sansFont(8.25));
    SSPanel1->setBackColor(Peach);
    SSPanel1->setForeColor(buttonText);
    place(SSPanel1, 1995, 4650, 5265, 840);

    button(cmdUp, 1, QStringLiteral("&Update"), 6255);
    button(cmdExit, 0, QStringLiteral("E&xit"), 7755);
    panel(0, 6585, holderTop[0], 2670, 450);
    label(6, QStringLiteral("Record Holders"), 6675, 990, 2490, 495, Qt::AlignHCenter | Qt::AlignTop);
    for (int k = 1; k < 4; ++k)
        panel(k, 6585, holderTop[k], 2670, 450);
    button(cmdWeb, 0, QStringLiteral("&Web Page"), 4755);

    auto* headline = panel(4, 765, 195, 7680, 510);
    headline->setFont(arialFont(15.75));
    headline->setForeColor(QColor(0, 0, 255));
    panel(50, 1995, 5520, 5265, 840)->setForeColor(QColor(255, 0, 0));

    Text1 = new QLineEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    place(Text1, 1080, 6540, 2490, 360);
    label(7, QStringLiteral("Name:"), 180, 6570, 1215, 495, Qt::AlignLeft | Qt::AlignTop);

    connect(cmdWeb(0), &QAbstractButton::clicked, this, [this] { cmdWeb_Click(0); });
    connect(cmdUp(1), &QAbstractButton::clicked, this, [this] { cmdUp_Click(1); });
    connect(cmdExit(0), &QAbstractButton::clicked, this, [this] { cmdExit_Click(0); });

    Inet1 = new Inet(this);
    Inet1->setObjectName(QStringLiteral("Inet1"));
    connect(Inet1, &Inet::StateChanged, this, &frmSum::Inet1_StateChanged);
}

QString frmSum::scoreLine(double score)
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

void frmSum::reportFileError(const QString& error)
{
    showMessage(this, error + QStringLiteral(" The game goes on, but this change is not kept."));
}

void frmSum::Form_Load()
{
    setWindowTitle(Title + QStringLiteral(" ZQ Summary"));

    QString error;
    const bool loaded = loadScores(scoreFileName(), ScoreTable, &error);
    const double s = m_gameLed ? m_gameLed->value() : 0.0;
    const FixedPoint score = FixedPoint::fromDouble(s);
    const bool sizeInUse = BoardSize >= 4 && BoardSize <= 7;
    if (sizeInUse && score > ScoreTable.YourHigh[BoardSize])
        ScoreTable.YourHigh[BoardSize] = score;

    for (int k = 0; k < 4; ++k) {
        LED(k)->setValue(ScoreTable.YourHigh[4 + k].toDouble());
        LED(4 + k)->setValue(ScoreTable.WorldWideHigh[4 + k].toDouble());
        SSPanel2(k)->setCaption(shownText(ScoreTable.RecordHolder[4 + k]));
    }
    if (ScoreTable.PlayerName.isEmpty() || ScoreTable.PlayerName.at(0) == QChar(0))
        ScoreTable.PlayerName = fixedText(DefaultName);
    Text1->setText(shownText(ScoreTable.PlayerName));

    // A file that could not be read is never overwritten.
    if (!loaded)
        reportFileError(error);
    else if (!saveScores(scoreFileName(), ScoreTable, &error))
        reportFileError(error);

    SSPanel2(4)->setCaption(scoreLine(s));
    SSPanel2(50)->setCaption(QString());
}

void frmSum::Form_Unload()
{
    Inet1->Cancel(); // an abandoned exchange's reply is never applied
    Text1->setText(replaceReservedCharacters(Text1->text()));
    QString error;
    if (!loadScores(scoreFileName(), ScoreTable, &error)) {
        reportFileError(error);
        return;
    }
    ScoreTable.PlayerName = fixedText(Text1->text());
    if (!saveScores(scoreFileName(), ScoreTable, &error))
        reportFileError(error);
}

void frmSum::done(int result)
{
    // Every way of closing (Exit, Esc, the close box) unloads the window once.
    if (!m_unloaded) {
        m_unloaded = true;
        Form_Unload();
    }
    QDialog::done(result);
}

void frmSum::cmdExit_Click(qint16)
{
    done(QDialog::Accepted);
}

void frmSum::cmdWeb_Click(qint16)
{
    OpenWebPage(gamePageAddress(m_scoreHost), this);
}

void frmSum::cmdUp_Click(qint16)
{
    if (trimSpaces(Text1->text()) == DefaultName) {
        showMessage(this, QStringLiteral("Enter a name in the Name field at the lower left and click UPDATE again. This "
                                         "name will be used if your ZQ is higher than any previously recorded ZQ."));
        return;
    }
    Text1->setText(replaceReservedCharacters(Text1->text()));
    SendScores();
}

QUrl frmSum::requestUrl(const QString& target) const
{
    // The path and numbers are plain ASCII; the name (fifth value) is encoded octet by octet
    // in UTF-8, so spaces, '%', '#' and any other text reach the service exactly as typed.
    const qsizetype q = target.indexOf(QLatin1Char('?'));
    const QString path = target.left(q);
    const QStringList values = target.mid(q + 1).split(QLatin1Char('&'));
    QStringList encoded;
    for (const QString& v : values)
        encoded << QString::fromLatin1(QUrl::toPercentEncoding(v));
    return QUrl(QStringLiteral("http://") + m_scoreHost + path + QLatin1Char('?') + encoded.join(QLatin1Char('&')),
                QUrl::StrictMode);
}

void frmSum::SendScores()
{
    if (Inet1->StillExecuting())
        return; // one exchange at a time
    Text1->setText(replaceReservedCharacters(Text1->text()));
    BoardScores bests{};
    for (int k = 0; k < 4; ++k) {
        // Whole numbers in memory only; the file keeps the fractions.
        const std::int32_t whole = toInt32HalfEven(ScoreTable.YourHigh[4 + k].toDouble());
        ScoreTable.YourHigh[4 + k] = FixedPoint::fromInt(whole);
        bests[k] = whole;
    }
    Inet1->setURL(requestUrl(requestTarget(bests, trimSpaces(Text1->text()))));
    Inet1->Execute(QStringLiteral("GET"));
}

void frmSum::Inet1_StateChanged(qint16 State)
{
    ThreeDPanel* status = SSPanel2(50);
    switch (State) {
    case 1: status->setCaption(QStringLiteral("Looking up the IP address of the specified host computer.")); break;
    case 2: status->setCaption(QStringLiteral("Successfully found the IP\u00A0address of the specified host computer")); break;
    case 3: status->setCaption(QStringLiteral("Connecting to the host computer.")); break;
    case 4: status->setCaption(QStringLiteral("Successfully connected to the host computer.")); break;
    case 5: status->setCaption(QStringLiteral("Sending a request to the host computer.")); break;
    case 6: status->setCaption(QStringLiteral("Successfully sent the request.")); break;
    case 7: status->setCaption(QStringLiteral("Receiving a response from the host computer.")); break;
    case 8: status->setCaption(QString()); break;
    case 11: status->setCaption(QStringLiteral("%1: %2").arg(Inet1->ResponseCode()).arg(Inet1->ResponseInfo())); break;
    case 12:
        status->setCaption(QStringLiteral("The request has completed and all data has been received."));
        applyReply();
        break;
    default: break;
    }
}

void frmSum::applyReply()
{
    const QString body = Inet1->GetChunk(Inet::MaxChunk);
    const std::optional<ScoreReply> parsed = parseReply(body);
    if (!parsed) {
        SSPanel2(50)->setCaption(QStringLiteral("The score service sent a reply that could not be understood; "
                                                "nothing was changed."));
        return;
    }
    const ScoreReply& reply = *parsed;
    QString error;
    if (!loadScores(scoreFileName(), ScoreTable, &error)) {
        reportFileError(error);
        return;
    }
    for (int i = 1; i <= 4; ++i) {
        const int N = i + 3;
        LED(i + 3)->setValue(FixedPoint::fromDouble(reply.highs[i - 1]).toDouble());
        SSPanel2(i - 1)->setCaption(reply.holders[i - 1]);
        ScoreTable.WorldWideHigh[N] = FixedPoint::fromDouble(reply.highs[i - 1]);
        ScoreTable.RecordHolder[N] = fixedText(reply.holders[i - 1]);
    }
    if (!saveScores(scoreFileName(), ScoreTable, &error))
        reportFileError(error);
    SSPanel2(50)->setCaption(reply.message);
}

} // namespace zimble
