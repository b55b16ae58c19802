// Builds without libzint: symbols are journalled as not drawn.

#include "receipt/symbols.h"

namespace vorpane::receipt {
namespace {

class NoEncoder final : public SymbolEncoder {
public:
    Symbol Encode(const SymbolRequest&) override {
        Symbol out;
        out.error = "built without libzint";
        return out;
    }
};

}  // namespace

std::unique_ptr<SymbolEncoder> MakeSymbolEncoder() {
    return std::make_unique<NoEncoder>();
}

}  // namespace vorpane::receipt
