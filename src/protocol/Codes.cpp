#include "protocol/Codes.h"

namespace tarvina::protocol {

namespace {

#define TARVINA_CODE_ROW_C(name, number, follows)                                                  \
    {number, #name, Direction::ToClient, Follows::follows},
#define TARVINA_CODE_ROW_S(name, number, follows)                                                  \
    {number, #name, Direction::ToServer, Follows::follows},
constexpr CodeInfo kCodes[] = {TARVINA_TO_CLIENT_CODES(TARVINA_CODE_ROW_C)
                                   TARVINA_TO_SERVER_CODES(TARVINA_CODE_ROW_S)};
#undef TARVINA_CODE_ROW_C
#undef TARVINA_CODE_ROW_S

} // namespace

std::span<const CodeInfo> AllCodes() {
    return kCodes;
}

const CodeInfo* FindCode(int code, Direction d) {
    for (const CodeInfo& info : kCodes) {
        if (info.code == code && info.direction == d)
            return &info;
    }
    return nullptr;
}

} // namespace tarvina::protocol
