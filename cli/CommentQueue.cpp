#include "CommentQueue.h"

#include <utility>

using namespace devupdate::xsvf;

void CCommentQueue::Push(const SXsvfCommentPiece& piece)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const bool fits = m_bytes + piece.text.size() <= MAX_BYTES;
    // A dropped piece after a dropped piece only adds its marks.
    if (!fits && !m_pieces.empty() && m_pieces.back().text.empty() && !m_pieces.back().ends && !piece.starts) {
        m_pieces.back().ends = piece.ends;
        return;
    }
    SCommentPiece queued{fits ? std::string(piece.text) : std::string(), piece.starts, piece.ends};
    m_bytes += queued.text.size();
    m_pieces.push_back(std::move(queued));
}

std::deque<SCommentPiece> CCommentQueue::Take()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bytes = 0;
    return std::exchange(m_pieces, {});
}
