// UpDown: a spin control of two small stacked arrow buttons that steps the number held in an
// associated edit box. Unlike a spin box it never judges what is typed into the edit: its range
// limits the arrows only, so a value outside the range typed by the user, or set by the program,
// is shown as it is.
#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>

class QLineEdit;
class QMenu;
class QToolButton;

class UpDown : public QWidget {
    Q_OBJECT
public:
    enum TUDBtnType { btNext, btPrev };

    explicit UpDown(QWidget* parent = nullptr);

    // Places the control just right of the edit with the edit's height, follows the edit's moves,
    // size, visibility and enabled state, writes the position into the edit, and makes the Up and
    // Down keys in the edit act like clicks on the matching arrow. nullptr detaches.
    void SetAssociate(QLineEdit* edit);
    QLineEdit* Associate() const;

    int Min() const { return min_; }
    void SetMin(int v) { min_ = v; }
    int Max() const { return max_; }
    void SetMax(int v) { max_ = v; }
    // A negative increment turns the arrows round: Up then lowers the number.
    int Increment() const { return increment_; }
    void SetIncrement(int v) { increment_ = v; }

    int Position() const { return position_; }
    // Stored as it is, outside the range too, and written into the associated edit.
    void SetPosition(int v);

    int Tag() const { return tag_; }
    void SetTag(int v) { tag_ = v; }

    // Accessible names of the arrows: "<name> up" and "<name> down".
    void SetAccessibleBaseName(const QString& name);

    // Does what a click on the arrow does; returns whether the position moved.
    bool Click(TUDBtnType button);
    // What the right mouse button on the associate edit shows: the edit's own commands (copy,
    // paste, ...) and the two steps with their keys. The caller owns the menu.
    QMenu* CreateCommandMenu();

    // Raised after a click that moved the position, once the edit shows the new number.
    std::function<void(QObject* Sender, TUDBtnType Button)> OnClick;

    QToolButton* UpButton() const { return up_; }
    QToolButton* DownButton() const { return down_; }

    QSize sizeHint() const override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void followAssociate(const QWidget* edit);
    void writeAssociate();

    QToolButton* up_;
    QToolButton* down_;
    QPointer<QLineEdit> associate_;
    // The same object, for telling its events apart without a cast: while the edit is being
    // destroyed it still sends events, and is no longer a QLineEdit then.
    QPointer<QObject> watched_;
    int min_ = 0;
    int max_ = 100;
    int increment_ = 1;
    int position_ = 0;
    int tag_ = 0;
};
