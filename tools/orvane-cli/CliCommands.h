#pragma once
//! @file CliCommands.h
//! The sub-commands of orvane-cli. Each Add...Command registers its options and
//! a callback on @p app; the callback stores the process exit status in @p exitCode.

#include <CLI/CLI.hpp>

void AddAnalyzeCommands(CLI::App& app, int& exitCode); // analyze, generate
void AddPlayCommand(CLI::App& app, int& exitCode);     // play
void AddRecordCommands(CLI::App& app, int& exitCode);  // record, monitor
void AddDiscoverCommand(CLI::App& app, int& exitCode); // discover
