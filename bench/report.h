// The report: the tables of the runs, their medians, the targets and the ratios.
#ifndef RELAYBENCH_REPORT_H
#define RELAYBENCH_REPORT_H

#include "measure.h"

#include <string>
#include <vector>

namespace relaybench {

struct Column
{
    const char *name;
    const char *unit;
    int width;
    int decimals; // -1: a yes/no figure, 1 or 0; its summary is "yes" only when every run said so
};

const std::vector<Column> &columnsOf(Run run);
std::string titleOf(Run run, const Options &o);

void printHeader(const std::vector<Column> &columns);
void printRow(const char *label, const char *who, const std::vector<Column> &columns,
              const std::vector<double> &m);
// The summary of one contender's runs: the median of each column over the runs that completed
// it; a yes/no column is yes only when every such run said yes.
std::vector<double> summaryOf(const std::vector<RunResult> &results, Contender who,
                              const std::vector<Column> &columns);
// The lines under a table's medians for one bridge contender: its targets, for orientation
// only, and in the relay table its ratios to socat.
void printTargets(Run run, const std::vector<RunResult> &results, Contender who);

} // namespace relaybench

#endif
