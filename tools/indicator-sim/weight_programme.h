#pragma once
// What the indicator weighs over time: a list of (weight, seconds) steps, each settling with decaying
// noise before it reads stable. The programme loops unless told to hold its last step.

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace veltrane::sim {

struct ProgrammeStep {
    double weight = 0;
    double seconds = 1;
    double settle = -1;  // seconds of noise at the start of the step; -1 takes the programme's
};

struct WeightSample {
    double weight = 0;
    bool stable = true;
};

class WeightProgramme {
public:
    // "0:5,24360:10,0:5" (weight:seconds[:settle]); an empty list is refused.
    static std::optional<WeightProgramme> parse(const QString& text, QString* error = nullptr);
    // Empty, driving on, unstable, stable at `loaded`, driving off, empty; then again.
    static WeightProgramme truckCycle(double loaded);
    // One weight, stable, for ever.
    static WeightProgramme fixed(double weight);

    std::vector<ProgrammeStep> steps;
    double noise = 0;   // amplitude while settling, in weight units
    double settle = 0;  // default settling time of a step
    bool loop = true;

    double length() const;
    // The reading `seconds` after the programme started. Noise is pseudo-random but repeatable: the
    // same time gives the same reading.
    WeightSample at(double seconds) const;
};

}  // namespace veltrane::sim
