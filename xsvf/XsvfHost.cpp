#include "XsvfHost.h"

#include <cstdio>

namespace devupdate::xsvf {

void EchoXsvfComment(const SXsvfCommentPiece& piece)
{
    // Write errors are not reported: a closed console must not stop a run.
    if (piece.starts)
        (void)std::fputc(' ', stdout);
    (void)std::fwrite(piece.text.data(), 1, piece.text.size(), stdout);
    if (piece.ends) {
        (void)std::fputc('\n', stdout);
        (void)std::fflush(stdout);
    }
}

void CXsvfHost::OnXsvfComment(const SXsvfCommentPiece& piece)
{
    EchoXsvfComment(piece);
}

}  // namespace devupdate::xsvf
