#include "support/recording_window.h"

#include <cstdint>
#include <stdexcept>

RecordingWindow::RecordingWindow() : window_(CreateProcedureWindow(&Procedure, this))
{
    if (window_ == nullptr)
    {
        throw std::runtime_error("RecordingWindow: no window");
    }
    progress_.m_hWnd = window_;
}

RecordingWindow::~RecordingWindow()
{
    DestroyWindow(window_);
}

std::vector<long> RecordingWindow::Positions() const
{
    std::vector<long> positions;
    for (const RecordedMessage& m : messages_)
    {
        if (m.message == PBM_SETPOS)
        {
            positions.push_back(static_cast<int>(m.wParam));
        }
    }
    return positions;
}

std::vector<std::pair<int, int>> RecordingWindow::Ranges() const
{
    std::vector<std::pair<int, int>> ranges;
    for (const RecordedMessage& m : messages_)
    {
        if (m.message == PBM_SETRANGE)
        {
            const auto packed = static_cast<std::uint32_t>(m.lParam);
            ranges.emplace_back(static_cast<std::int16_t>(packed & 0xFFFF),
                                static_cast<std::int16_t>(packed >> 16));
        }
    }
    return ranges;
}

void RecordingWindow::OnMessage(std::function<void(const RecordedMessage&)> callback)
{
    callback_ = std::move(callback);
}

LRESULT RecordingWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = static_cast<RecordingWindow*>(GetWindowUserData(window));
    const RecordedMessage recorded{message, wParam, lParam};
    self->messages_.push_back(recorded);
    LRESULT result = 0;
    if (message == PBM_SETPOS)
    {
        result = self->position_;
        self->position_ = static_cast<int>(wParam);
    }
    else if (message == PBM_SETRANGE)
    {
        result = self->range_;
        self->range_ = lParam;
    }
    if (self->callback_)
    {
        self->callback_(recorded);
    }
    return result;
}
