// The pack writer's edit types by name only, for headers that hand them on
// by pointer or reference without needing their definitions.
#pragma once

namespace zarnik {
struct ArchiveNode;
} // namespace zarnik

namespace zarnik_pack {
class PackEdit;
class EditRecord;
struct EditTouch;
} // namespace zarnik_pack
