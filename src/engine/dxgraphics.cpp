#include "engine/dxgraphics.h"

#include "engine/classes.h"

namespace engine {

HRESULT create_dxgraphics(REFIID iid, void** out) noexcept { return com::create_instance<dxgraphics>(iid, out); }

}  // namespace engine
