// Answers the main window's safety-net questions the way an operator does,
// by the caption of the button pressed, and keeps what was asked. A
// question with no answer left fails the test and is cancelled.
#pragma once

#include "core/captions.h"
#include "gui/Main.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <vector>

struct AskedQuestion {
    QString title;
    QString text;
    QStringList buttons;  // in the order the box shows them
};

class QuestionAnswers {
public:
    explicit QuestionAnswers(TForm1& form) : m_form(form)
    {
        form.setQuestionRunner([this](QMessageBox* box) { return answer(box); });
    }

    // The next questions are answered with these buttons (notice pairs), in order.
    void next(std::initializer_list<int> pairs) { m_answers.insert(m_answers.end(), pairs); }
    // Every question is answered with this button from now on.
    void always(int pair) { m_always = pair; }

    std::vector<AskedQuestion> asked;

private:
    QAbstractButton* answer(QMessageBox* box)
    {
        AskedQuestion q{box->windowTitle(), box->text(), {}};
        for (QAbstractButton* b : box->buttons()) q.buttons << b->text();
        asked.push_back(q);
        std::optional<int> pair = m_always;
        if (!m_answers.empty()) {
            pair = m_answers.front();
            m_answers.pop_front();
        }
        if (!pair) {
            ADD_FAILURE() << "unexpected question: " << q.text.toStdString();
            return nullptr;
        }
        const std::string_view want = tk770::notice(*pair, m_form.Language);
        for (QAbstractButton* b : box->buttons())
            if (b->text() == QString::fromUtf8(want.data(), static_cast<qsizetype>(want.size()))) return b;
        ADD_FAILURE() << "no button " << want << " in: " << q.text.toStdString();
        return nullptr;
    }

    TForm1& m_form;
    std::deque<int> m_answers;
    std::optional<int> m_always;
};
