#include "RunObserver.h"

#include <cstdio>

using namespace devupdate::xsvf;

namespace devupdate::update {

void CRunObserver::ShowMessageBox(const std::string& text)
{
    std::fprintf(stderr, "%s\n", text.c_str());
}

void CRunObserver::OnXsvfComment(const SXsvfCommentPiece& piece)
{
    EchoXsvfComment(piece);
}

}  // namespace devupdate::update
