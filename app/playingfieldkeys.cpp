// The playing field from the keyboard: the board is one Tab stop, arrows move between clickable
// tiles, Home and End go to the first and last, and Esc does not close the field.

#include "playingfield.h"

#include "ui/knob.h"
#include "ui/threedbutton.h"

#include <QKeyEvent>

#include <algorithm>

namespace zimble {

using namespace ui;

void PlayingField::keyPressEvent(QKeyEvent* event)
{
    // The playing field closes only by its close box, not by Esc.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

int PlayingField::tileIndex(const QObject* object) const
{
    if (!object)
        return -1;
    const auto it = std::find(m_tiles.begin(), m_tiles.end(), object);
    return it == m_tiles.end() ? -1 : int(it - m_tiles.begin());
}

int PlayingField::focusedTile() const
{
    return tileIndex(focusWidget());
}

void PlayingField::focusTile(int index)
{
    if (ThreeDButton* t = tile(index)) {
        m_boardFocus = index;
        t->setFocus(Qt::OtherFocusReason);
    }
}

void PlayingField::focusBoard()
{
    const int index = m_state.isClickable(m_boardFocus) ? m_boardFocus : m_state.tileAfterMove(-1, TileMove::First);
    focusTile(index);
}

bool PlayingField::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusIn) {
        if (const int index = tileIndex(watched); index >= 0)
            m_boardFocus = index;
        return false;
    }
    if (event->type() != QEvent::KeyPress)
        return false;
    const int index = tileIndex(watched);
    auto* key = static_cast<QKeyEvent*>(event);
    if (index < 0 || (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)))
        return false;
    TileMove move;
    switch (key->key()) {
    case Qt::Key_Left: move = TileMove::Left; break;
    case Qt::Key_Right: move = TileMove::Right; break;
    case Qt::Key_Up: move = TileMove::Up; break;
    case Qt::Key_Down: move = TileMove::Down; break;
    case Qt::Key_Home: move = TileMove::First; break;
    case Qt::Key_End: move = TileMove::Last; break;
    default: return false; // Space, Enter and Return click: the button's own keys
    }
    const int to = m_state.tileAfterMove(index, move);
    if (to >= 0)
        focusTile(to);
    return true;
}

bool PlayingField::focusNextPrevChild(bool next)
{
    if (m_holdFocus)
        return true; // the focus is placed once the board stands again
    enum Stop { Board, KnobStop, ResetStop, StopCount };
    auto shown = [this](int stop) {
        switch (stop) {
        case Board: return m_state.tileAfterMove(-1, TileMove::First) >= 0;
        case KnobStop: return !m_sizeKnob->isHidden();
        default: return !m_resetButton->isHidden();
        }
    };
    const QWidget* focused = focusWidget();
    int stop = focusedTile() >= 0     ? Board
        : focused == m_sizeKnob       ? KnobStop
        : focused == m_resetButton    ? ResetStop
        : next                        ? StopCount - 1
                                      : 0;
    for (int k = 0; k < StopCount; ++k) {
        stop = (stop + (next ? 1 : StopCount - 1)) % StopCount;
        if (!shown(stop))
            continue;
        const Qt::FocusReason reason = next ? Qt::TabFocusReason : Qt::BacktabFocusReason;
        if (stop == Board)
            focusBoard();
        else if (stop == KnobStop)
            m_sizeKnob->setFocus(reason);
        else
            m_resetButton->setFocus(reason);
        return true;
    }
    return false;
}

} // namespace zimble
