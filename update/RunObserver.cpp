#include "RunObserver.h"

#include <cstdio>

void CRunObserver::ShowMessageBox(const std::string& text)
{
    std::fprintf(stderr, "%s\n", text.c_str());
}

void CRunObserver::OnXsvfComment(const SXsvfCommentPiece& piece)
{
    EchoXsvfComment(piece);
}
