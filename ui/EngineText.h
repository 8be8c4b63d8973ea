// The engine's and the jobs' messages in the user's language. They stay
// free of Qt and raise their messages as fixed English texts, some with a
// name or a number inside; the window shows them through EngineText.
#pragma once

#include <QString>
#include <string>

namespace ui {

// text translated when it is one of the engine's known messages (its names
// and numbers kept in their places); any other text as it stands.
QString EngineText(const std::string& text);

}  // namespace ui
