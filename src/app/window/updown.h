// A small up/down control paired with an edit box: each step adds or takes
// one increment from the number in the box, kept within the control's range.
// The box stays free text; what is acceptable is decided when the record is
// built, so a value typed past the range still reaches that check.
#pragma once

#include <QLineEdit>
#include <QPointer>
#include <QWidget>

class QToolButton;

namespace vyo {

class UpDown : public QWidget {
  Q_OBJECT
 public:
  UpDown(QLineEdit* buddy, int min, int max, int step = 1, QWidget* parent = nullptr);

  int minimum() const { return min_; }
  int maximum() const { return max_; }
  int singleStep() const { return step_; }
  QLineEdit* buddy() const { return buddy_; }

  // Steps `steps` increments (negative: down). A box that holds no number
  // starts from the bottom of the range when stepping up and from the top
  // when stepping down; a number outside the range is brought into it.
  void stepBy(int steps);


 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QPointer<QLineEdit> buddy_;
  QToolButton* up_;
  QToolButton* down_;
  int min_, max_, step_;
};

}  // namespace vyo
