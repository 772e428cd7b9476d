#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "collectors/report_context.h"
#include "collectors/report_definition.h"

// The management collectors: each clears and refills the results grid for one
// pass. A one-pass report ends its pass with ctx.endOfPass().
namespace tavo {

// Every object of `wmiclass` with all its properties ("SELECT * FROM " + class).
// `onepass` is the 16-bit flag of the dispatch table: -1 one-pass, 0 periodic.
// Raises nothing: when the service cannot be reached or the query fails, the
// grid shows one "*" row with the warning lamp and the error as its tool tip.
void GetResults(ReportContext& ctx, const std::string& wmiclass, std::int16_t& onepass);

// The same report over any query (tavo-report --query): the lamp rule of the
// class after FROM; the interval field and the cycle are left alone.
void GetQueryResults(ReportContext& ctx, const std::string& query);

// The monitors write the rows under the columns the window laid out for their
// category. When connecting or querying fails they leave the previous rows
// and raise tavo::Error (and only tavo::Error) for the cycle to report.
void DriveMon(ReportContext& ctx);  // one-pass: always ends with ctx.endOfPass()
void NetMon(ReportContext& ctx);    // periodic
void PrintMon(ReportContext& ctx);  // periodic

// What the report definitions take from the collectors: each monitor's
// columns with the writer of every cell, and the lamp rules.
namespace monitor {
std::span<const ColumnDefinition> driveColumns();
int driveLamp(const wmi::Object& disk);
std::span<const ColumnDefinition> adapterColumns();
int adapterLamp(const wmi::Object& adapter);
std::span<const ColumnDefinition> printerColumns();
int printerLamp(const wmi::Object& printer);
// The generic report: the column of lamps, the Status rule, the services' rule.
std::span<const ColumnDefinition> genericColumns();
int statusLamp(const wmi::Object& instance);
int serviceLamp(const wmi::Object& service);
}  // namespace monitor

}  // namespace tavo
