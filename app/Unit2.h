#pragma once

#include "Label.h"

#include <QDialog>
#include <QFrame>

namespace vantari {

// The About dialog: static texts about the service, closed by its title bar's close box.
class TForm2 : public QDialog {
public:
  explicit TForm2(QWidget *parent = nullptr);

protected:
  void showEvent(QShowEvent *event) override;

private:
  QFrame Panel2{this};
  QFrame Panel3{this};
  TLabel Label1{&Panel3};
  TLabel Label5{&Panel3};
  TLabel Label2{&Panel3};
  TLabel Label10{&Panel3};
  TLabel Label3{&Panel3};
  TLabel Label8{&Panel3};
  TLabel LabelVersion{&Panel3};
};

} // namespace vantari
