#include "support/scripted_responder.h"

scripted_responder::scripted_responder()
{
    message::set_responder(this);
}

scripted_responder::~scripted_responder()
{
    message::set_responder(nullptr);
}

QMessageBox::StandardButton scripted_responder::box(QWidget *, const message::box_request &request)
{
    m_boxes.append(request);
    if (on_box)
        on_box(request);
    if (!m_answers.isEmpty())
        return m_answers.dequeue();
    return request.default_button != QMessageBox::NoButton ? request.default_button : QMessageBox::Ok;
}

std::optional<QString> scripted_responder::text(QWidget *, const message::text_request &request)
{
    m_prompts.append(request);
    if (!m_texts.isEmpty())
        return m_texts.dequeue();
    return std::nullopt;
}

const char *kind_name(message::kind kind)
{
    switch (kind) {
    case message::kind::critical: return "critical";
    case message::kind::warning: return "warning";
    case message::kind::information: return "information";
    case message::kind::question: return "question";
    }
    return "?";
}
