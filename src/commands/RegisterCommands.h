#pragma once

namespace hopwell {

// Plugs every command class into its row of the intake table.
void RegisterCommands();

}  // namespace hopwell
