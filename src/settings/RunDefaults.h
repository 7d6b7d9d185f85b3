#pragma once

// The entries a fresh window shows, for the fields a run reads. The runner
// takes the same ones for what its command line leaves out.
namespace RunDefaults {

// Var_1 … Var_4: steps, settle time (ms), readings per step, reading interval (ms).
inline constexpr const char *parameters[4] = {"10", "100", "3", "100"};
inline constexpr const char *meterAddress = "GPIB0::5::INSTR";
inline constexpr const char *missingItem = "未填写测试项";
inline constexpr const char *missingTester = "未填写测试人";

} // namespace RunDefaults
