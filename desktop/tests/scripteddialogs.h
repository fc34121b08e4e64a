// Dialog answers given by the test instead of a person, and a record of what was shown.
#pragma once

#include <QString>
#include <QStringList>
#include <deque>

#include "dialogprovider.h"

class ScriptedDialogs final : public DialogProvider {
 public:
  void ShowMessage(QWidget*, const QString& text) override { messages << text; }
  bool Confirm(QWidget*, const QString& caption, const QString& text) override {
    confirmations << caption + ": " + text;
    if (confirmAnswers.empty()) return false;
    const bool answer = confirmAnswers.front();
    confirmAnswers.pop_front();
    return answer;
  }
  QString OpenFile(QWidget*, const QString& filter) override {
    filters << filter;
    return Next(openAnswers);
  }
  QString BrowseForFolder(QWidget*, const QString& title) override {
    folderTitles << title;
    return Next(folderAnswers);
  }
  void OpenDocument(const QString& path) override { opened << path; }

  std::deque<bool> confirmAnswers;
  std::deque<QString> openAnswers;
  std::deque<QString> folderAnswers;
  QStringList messages;
  QStringList confirmations;
  QStringList filters;
  QStringList folderTitles;
  QStringList opened;

 private:
  static QString Next(std::deque<QString>& answers) {
    if (answers.empty()) return {};
    QString answer = answers.front();
    answers.pop_front();
    return answer;
  }
};
