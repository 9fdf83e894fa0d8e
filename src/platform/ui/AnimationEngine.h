#pragma once
// Internal to the user-interface library: the state behind the animation model of
// Animation.h (open blocks, running blocks, which block animates which property of which
// view, running layer animations). Process-wide, main thread only.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/ui/Animation.h"

namespace platform {

class AnimationEngine {
public:
    static AnimationEngine& shared();
    void reset();

    // ---- Blocks ----
    void begin(std::string name, std::string context);
    void commit();
    bool inBlock() const { return !open_.empty(); }
    struct OpenBlock;
    OpenBlock* top() { return open_.empty() ? nullptr : open_.back().get(); }
    bool enabled() const { return enabled_; }
    void setEnabled(bool on) { enabled_ = on; }

    // A property of `view` changes from `from` to `to`: recorded when inside a block.
    void record(View& view, const char* property, AnimatedValue from, AnimatedValue to);
    void recordTransition(View& view, ViewAnimationTransition transition, bool cache);
    // Forgets which animations a view that is going away takes part in.
    void viewDestroyed(const View* view);

    // ---- Layer animations ----
    std::uint64_t startLayerAnimation(Layer& layer, const std::string& key,
                                      std::shared_ptr<LayerAnimation> animation);
    // Stops a running layer animation (finished = false, did-stop on the next turn).
    void stopLayerAnimation(std::uint64_t token);

    std::size_t runningCount() const { return running_.size() + layerRuns_.size(); }

    struct OpenBlock {
        std::string name;
        std::string context;
        double duration = kDefaultAnimationDuration;
        double delay = 0;
        AnimationCurve curve = AnimationCurve::EaseInOut;
        double repeatCount = 0;
        bool autoreverses = false;
        bool beginsFromCurrentState = false;
        AnimationDidStop didStop;
        // (view, conflict group) → record id, in order of first change.
        std::vector<std::pair<std::pair<const View*, std::string>, std::uint64_t>> parts;
    };

private:
    struct RunningBlock {
        std::string name;
        AnimationDidStop didStop;
        std::vector<std::uint64_t> recordIds;
        int live = 0;
        bool interrupted = false;
    };
    struct LayerRun {
        Layer* layer;
        std::string key;
        std::shared_ptr<LayerAnimation> animation;
        std::uint64_t recordId;
    };
    using PartKey = std::pair<const View*, std::string>;

    void finishBlock(std::uint64_t token, bool finished);
    void finishLayer(std::uint64_t token, bool finished);
    void scheduleStop(double delay, std::uint64_t token, bool layer, bool finished);

    std::vector<std::unique_ptr<OpenBlock>> open_;
    std::map<std::uint64_t, RunningBlock> running_;
    std::map<PartKey, std::uint64_t> owners_; // part → running block token
    std::map<std::uint64_t, LayerRun> layerRuns_;
    std::uint64_t nextToken_ = 1;
    bool enabled_ = true;
    // Changes with every reset, so callbacks queued before it do nothing after it.
    std::uint64_t generation_ = 0;
};

} // namespace platform
