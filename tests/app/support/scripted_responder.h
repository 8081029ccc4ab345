// A message responder for tests: records every box and prompt and answers
// from a script. It is in place while it lives.
#ifndef ORVA_TESTS_APP_SCRIPTED_RESPONDER_H
#define ORVA_TESTS_APP_SCRIPTED_RESPONDER_H

#include "ui/message.h"

#include <QList>
#include <QQueue>

#include <functional>
#include <optional>

class scripted_responder final : public message::responder {
public:
    scripted_responder();
    ~scripted_responder() override;
    scripted_responder(const scripted_responder &) = delete;
    scripted_responder &operator=(const scripted_responder &) = delete;

    // Answers of the next boxes, in order; without one a box is closed with
    // its default button (OK when it has none).
    void answer(QMessageBox::StandardButton button) { m_answers.enqueue(button); }
    // Answers of the next prompts; without one a prompt is cancelled.
    void answer_text(std::optional<QString> text) { m_texts.enqueue(std::move(text)); }

    // Runs when a box is shown, before it is answered.
    std::function<void(const message::box_request &)> on_box;

    const QList<message::box_request> &boxes() const { return m_boxes; }
    const QList<message::text_request> &prompts() const { return m_prompts; }

    QMessageBox::StandardButton box(QWidget *parent, const message::box_request &request) override;
    std::optional<QString> text(QWidget *parent, const message::text_request &request) override;

private:
    QList<message::box_request> m_boxes;
    QList<message::text_request> m_prompts;
    QQueue<QMessageBox::StandardButton> m_answers;
    QQueue<std::optional<QString>> m_texts;
};

// "critical", "warning", "information" or "question".
const char *kind_name(message::kind kind);

#endif
