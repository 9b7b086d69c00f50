#include "platform/core/dialog.h"

#include <string>

#include "platform/core/platform.h"

namespace tl {

Dialog::Dialog(int layoutId, Dialog* parent) : layoutId_(layoutId), parent_(parent) {}

Dialog::~Dialog() = default;

int Dialog::DoModal() {
  Ui* ui = CurrentHost().ui;
  if (ui == nullptr) return -1;
  return ui->RunModal(*this);
}

void Dialog::EndDialog(int result) {
  if (window_ != nullptr) window_->EndModal(result);
}

bool Dialog::UpdateData(bool saveAndValidate) {
  if (window_ == nullptr) return false;
  DataExchange dx(*this, saveAndValidate);
  DoDataExchange(dx);
  return !dx.Failed();
}

bool Dialog::OnInitDialog() {
  UpdateData(false);
  return true;
}

void Dialog::OnOK() {
  if (!UpdateData(true)) return;
  EndDialog(kResultOk);
}

void Dialog::OnCancel() { EndDialog(kResultCancel); }

void Dialog::OnCommand(int id) {
  if (id == kResultOk) {
    OnOK();
  } else if (id == kResultCancel) {
    OnCancel();
  } else {
    OnButton(id);
  }
}

// ---------------------------------------------------------------- DataExchange

void DataExchange::Text(int id, std::string& value) {
  if (failed_) return;
  DialogWindow* w = dialog_.Window();
  if (w == nullptr) return;
  if (saving_) {
    value = w->GetText(id);
  } else {
    w->SetText(id, value);
  }
}

void DataExchange::Check(int id, int& value) {
  if (failed_) return;
  DialogWindow* w = dialog_.Window();
  if (w == nullptr) return;
  if (saving_) {
    value = w->GetCheck(id) ? 1 : 0;
  } else {
    w->SetCheck(id, value != 0);
  }
}

bool DataExchange::ParseOctet(std::string_view text, std::uint8_t* value) {
  std::size_t i = 0;
  auto isSpace = [](char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
  };
  while (i < text.size() && isSpace(text[i])) ++i;
  std::size_t digits = 0;
  unsigned number = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    if (number <= 255) number = number * 10 + static_cast<unsigned>(text[i] - '0');
    ++i;
    ++digits;
  }
  if (digits == 0 || number > 255) return false;
  *value = static_cast<std::uint8_t>(number);
  return true;
}

void DataExchange::Octet(int id, std::uint8_t& value) {
  if (failed_) return;
  DialogWindow* w = dialog_.Window();
  if (w == nullptr) return;
  if (!saving_) {
    w->SetText(id, std::to_string(value));
    return;
  }
  std::uint8_t parsed = 0;
  if (!ParseOctet(w->GetText(id), &parsed)) {
    Fail(id, "Please enter an integer between 0 and 255.");
    return;
  }
  value = parsed;
}

void DataExchange::Fail(int id, std::string_view message) {
  failed_ = true;
  ShowMessage(message);
  if (DialogWindow* w = dialog_.Window()) w->FocusAndSelectAll(id);
}

}  // namespace tl
