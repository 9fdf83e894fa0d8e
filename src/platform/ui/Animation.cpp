#include "platform/ui/Animation.h"

#include <algorithm>

#include "platform/foundation/Log.h"
#include "platform/foundation/Strings.h"
#include "platform/runloop/Clock.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/AnimationEngine.h"
#include "platform/ui/Image.h"
#include "platform/ui/View.h"

namespace platform {
namespace {

// Properties that a new animation takes over from an earlier one on the same view.
std::string conflictGroup(const char* property) {
    std::string p = property;
    if (p == "frame" || p == "center" || p == "bounds")
        return "geometry";
    return p;
}

double totalFor(double duration, double delay, double repeatCount, bool autoreverses) {
    double cycles = std::max(repeatCount, 1.0);
    return std::max(delay, 0.0) + std::max(duration, 0.0) * cycles * (autoreverses ? 2 : 1);
}

// Runs a callback from the animation machinery: an exception never escapes it.
template <typename F> void guarded(const char* what, F&& f) { callGuarded(std::string("animation: ") + what, f); }

} // namespace

const char* toString(AnimationCurve curve) {
    switch (curve) {
    case AnimationCurve::EaseInOut:
        return "easeInOut";
    case AnimationCurve::EaseIn:
        return "easeIn";
    case AnimationCurve::EaseOut:
        return "easeOut";
    case AnimationCurve::Linear:
        return "linear";
    }
    return "?";
}

const char* toString(ViewAnimationTransition transition) {
    switch (transition) {
    case ViewAnimationTransition::None:
        return "none";
    case ViewAnimationTransition::FlipFromLeft:
        return "flipFromLeft";
    case ViewAnimationTransition::FlipFromRight:
        return "flipFromRight";
    case ViewAnimationTransition::CurlUp:
        return "curlUp";
    case ViewAnimationTransition::CurlDown:
        return "curlDown";
    }
    return "?";
}

const char* toString(AnimationKind kind) {
    switch (kind) {
    case AnimationKind::Property:
        return "property";
    case AnimationKind::ViewTransition:
        return "viewTransition";
    case AnimationKind::LayerTransition:
        return "layerTransition";
    case AnimationKind::LayerProperty:
        return "layerProperty";
    case AnimationKind::Presentation:
        return "presentation";
    case AnimationKind::TableRows:
        return "tableRows";
    }
    return "?";
}

std::string toString(const AnimatedValue& value) {
    struct Visitor {
        std::string operator()(std::monostate) const { return "nil"; }
        std::string operator()(double d) const { return formatDouble(d); }
        std::string operator()(Point p) const { return toString(p); }
        std::string operator()(Size s) const { return toString(s); }
        std::string operator()(const Rect& r) const { return toString(r); }
        std::string operator()(const AffineTransform& t) const { return toString(t); }
        std::string operator()(const Color& c) const { return toString(c); }
        std::string operator()(const std::string& s) const { return s; }
        std::string operator()(const std::shared_ptr<Image>& i) const {
            return i ? "<" + (i->name().empty() ? std::string("image") : i->name()) + ">" : "nil";
        }
    };
    return std::visit(Visitor{}, value);
}

double AnimationRecord::totalDuration() const {
    return totalFor(duration, delay, repeatCount, autoreverses);
}

double LayerAnimation::totalDuration() const {
    return totalFor(duration, beginTime, repeatCount, autoreverses);
}

// ---- AnimationLog ----

AnimationLog& AnimationLog::shared() {
    // Never destroyed: views that outlive static destruction still find it.
    static auto* log = new AnimationLog;
    return *log;
}

void AnimationLog::resetForTesting() {
    shared().records_.clear();
    AnimationEngine::shared().reset();
}

std::vector<AnimationRecord> AnimationLog::records() const {
    return {records_.begin(), records_.end()};
}

std::vector<AnimationRecord> AnimationLog::recordsNamed(std::string_view name) const {
    std::vector<AnimationRecord> out;
    for (const auto& r : records_)
        if (r.name == name)
            out.push_back(r);
    return out;
}

std::vector<AnimationRecord> AnimationLog::recordsFor(const View& view) const {
    std::vector<AnimationRecord> out;
    for (const auto& r : records_)
        if (r.viewIdentity == &view && !r.view.expired())
            out.push_back(r);
    return out;
}

std::vector<AnimationRecord> AnimationLog::recordsFor(const View& view, std::string_view property) const {
    std::vector<AnimationRecord> out;
    for (const auto& r : records_)
        if (r.viewIdentity == &view && !r.view.expired() && r.property == property)
            out.push_back(r);
    return out;
}

std::optional<AnimationRecord> AnimationLog::last() const {
    if (records_.empty())
        return std::nullopt;
    return records_.back();
}

void AnimationLog::clear() {
    records_.clear();
}

std::size_t AnimationLog::runningCount() const {
    return AnimationEngine::shared().runningCount();
}

std::uint64_t AnimationLog::append(AnimationRecord record) {
    record.id = nextId_++;
    records_.push_back(std::move(record));
    while (records_.size() > kMaxRecords)
        records_.pop_front();
    return records_.back().id;
}

AnimationRecord* AnimationLog::find(std::uint64_t id) {
    // Ids increase along the deque, so a binary search finds the record.
    auto it = std::lower_bound(records_.begin(), records_.end(), id,
                               [](const AnimationRecord& r, std::uint64_t v) { return r.id < v; });
    return it != records_.end() && it->id == id ? &*it : nullptr;
}

// ---- AnimationEngine ----

AnimationEngine& AnimationEngine::shared() {
    // Never destroyed: views that outlive static destruction still find it.
    static auto* engine = new AnimationEngine;
    return *engine;
}

void AnimationEngine::reset() {
    open_.clear();
    running_.clear();
    owners_.clear();
    for (auto& [token, run] : layerRuns_)
        if (run.layer)
            run.layer->running_.clear();
    layerRuns_.clear();
    enabled_ = true;
    ++generation_;
}

void AnimationEngine::viewDestroyed(const View* view) {
    // A later view at the same address must not take over (and so interrupt) these parts.
    for (auto o = owners_.begin(); o != owners_.end();) {
        if (o->first.first == view)
            o = owners_.erase(o);
        else
            ++o;
    }
    for (auto& block : open_)
        std::erase_if(block->parts, [&](const auto& part) { return part.first.first == view; });
}

void AnimationEngine::begin(std::string name, std::string context) {
    auto block = std::make_unique<OpenBlock>();
    block->name = std::move(name);
    block->context = std::move(context);
    open_.push_back(std::move(block));
}

void AnimationEngine::record(View& view, const char* property, AnimatedValue from, AnimatedValue to) {
    OpenBlock* block = top();
    if (!block || !enabled_)
        return;
    PartKey key{&view, conflictGroup(property)};
    AnimationLog& log = AnimationLog::shared();
    for (auto& [part, id] : block->parts) {
        if (part != key)
            continue;
        if (AnimationRecord* r = log.find(id); r && r->property == property) {
            // A second change in the same block: one animation from the first value to the last.
            r->to = std::move(to);
            return;
        }
    }
    AnimationRecord r;
    r.kind = AnimationKind::Property;
    r.name = block->name;
    r.context = block->context;
    r.view = view.sharedView();
    r.viewIdentity = &view;
    r.property = property;
    r.from = std::move(from);
    r.to = std::move(to);
    block->parts.push_back({key, log.append(std::move(r))});
}

void AnimationEngine::recordTransition(View& view, ViewAnimationTransition transition, bool cache) {
    OpenBlock* block = top();
    if (!block || !enabled_)
        return;
    AnimationRecord r;
    r.kind = AnimationKind::ViewTransition;
    r.name = block->name;
    r.context = block->context;
    r.view = view.sharedView();
    r.viewIdentity = &view;
    r.property = "transition";
    r.to = std::string(toString(transition));
    r.transitionType = toString(transition);
    r.cache = cache;
    block->parts.push_back({{&view, "transition"}, AnimationLog::shared().append(std::move(r))});
}

void AnimationEngine::commit() {
    if (open_.empty()) {
        logLine("View: commitAnimations without beginAnimations");
        return;
    }
    std::unique_ptr<OpenBlock> block = std::move(open_.back());
    open_.pop_back();
    std::uint64_t token = nextToken_++;
    double total = totalFor(block->duration, block->delay, block->repeatCount, block->autoreverses);
    double now = Clock::current().monotonic();

    RunningBlock run;
    run.name = block->name;
    run.didStop = std::move(block->didStop);
    AnimationLog& log = AnimationLog::shared();
    for (auto& [part, id] : block->parts) {
        if (AnimationRecord* r = log.find(id)) {
            r->duration = block->duration;
            r->delay = block->delay;
            r->curve = block->curve;
            r->repeatCount = block->repeatCount;
            r->autoreverses = block->autoreverses;
            r->beginsFromCurrentState = block->beginsFromCurrentState;
            r->startTime = now;
        }
        run.recordIds.push_back(id);
    }
    // Take over the parts from earlier blocks (counted once per view and group).
    std::vector<PartKey> distinct;
    for (auto& [part, id] : block->parts)
        if (std::find(distinct.begin(), distinct.end(), part) == distinct.end())
            distinct.push_back(part);
    run.live = int(distinct.size());
    running_.emplace(token, std::move(run));
    for (const PartKey& part : distinct) {
        auto owner = owners_.find(part);
        if (owner != owners_.end() && owner->second != token) {
            auto old = running_.find(owner->second);
            if (old != running_.end()) {
                old->second.interrupted = true;
                for (std::uint64_t oldId : old->second.recordIds)
                    if (AnimationRecord* r = log.find(oldId);
                        r && r->viewIdentity == part.first &&
                        conflictGroup(r->property.c_str()) == part.second)
                        r->state = AnimationState::Interrupted;
                if (--old->second.live <= 0) {
                    RunLoop::main().cancelPerforms(this, std::to_string(owner->second));
                    scheduleStop(0, owner->second, false, false);
                }
            }
        }
        owners_[part] = token;
    }
    if (distinct.empty()) {
        // Nothing animated: the block is over on the next turn.
        scheduleStop(0, token, false, true);
        return;
    }
    scheduleStop(total, token, false, true);
}

void AnimationEngine::scheduleStop(double delay, std::uint64_t token, bool layer, bool finished) {
    std::uint64_t generation = generation_;
    RunLoop::main().performAfter(
        delay,
        [this, token, layer, finished, generation] {
            if (generation != generation_)
                return;
            if (layer)
                finishLayer(token, finished);
            else
                finishBlock(token, finished);
        },
        this, std::to_string(token));
}

void AnimationEngine::finishBlock(std::uint64_t token, bool finished) {
    auto it = running_.find(token);
    if (it == running_.end())
        return;
    RunningBlock run = std::move(it->second);
    running_.erase(it);
    for (auto o = owners_.begin(); o != owners_.end();) {
        if (o->second == token)
            o = owners_.erase(o);
        else
            ++o;
    }
    bool ok = finished && !run.interrupted;
    AnimationLog& log = AnimationLog::shared();
    for (std::uint64_t id : run.recordIds)
        if (AnimationRecord* r = log.find(id); r && r->state == AnimationState::Running)
            r->state = ok ? AnimationState::Finished : AnimationState::Interrupted;
    if (run.didStop)
        guarded("did-stop", [&] { run.didStop(run.name, ok); });
}

std::uint64_t AnimationEngine::startLayerAnimation(Layer& layer, const std::string& key,
                                                   std::shared_ptr<LayerAnimation> animation) {
    std::uint64_t token = nextToken_++;
    AnimationRecord r;
    View& view = layer.view();
    r.view = view.sharedView();
    r.viewIdentity = &view;
    r.name = key;
    r.duration = animation->duration;
    r.delay = animation->beginTime;
    r.curve = animation->timing;
    r.repeatCount = animation->repeatCount;
    r.autoreverses = animation->autoreverses;
    r.startTime = Clock::current().monotonic();
    if (animation->kind == LayerAnimation::Kind::Transition) {
        r.kind = AnimationKind::LayerTransition;
        r.property = "transition";
        r.transitionType = animation->type;
        r.transitionSubtype = animation->subtype;
        r.to = animation->type;
    } else {
        r.kind = AnimationKind::LayerProperty;
        r.property = animation->keyPath;
        if (animation->kind == LayerAnimation::Kind::Keyframe && !animation->values.empty()) {
            r.from = animation->values.front();
            r.to = animation->values.back();
        } else {
            r.from = animation->from;
            r.to = std::holds_alternative<std::monostate>(animation->to) ? animation->by : animation->to;
        }
    }
    std::uint64_t recordId = AnimationLog::shared().append(std::move(r));
    layerRuns_.emplace(token, LayerRun{&layer, key, animation, recordId});
    if (animation->didStart) {
        std::uint64_t generation = generation_;
        RunLoop::main().perform([animation, generation, this] {
            if (generation == generation_)
                guarded("did-start", [&] { animation->didStart(*animation); });
        });
    }
    scheduleStop(animation->totalDuration(), token, true, true);
    return token;
}

void AnimationEngine::stopLayerAnimation(std::uint64_t token) {
    auto it = layerRuns_.find(token);
    if (it == layerRuns_.end())
        return;
    RunLoop::main().cancelPerforms(this, std::to_string(token));
    // Off the layer at once; the did-stop follows on the next turn.
    Layer* layer = it->second.layer;
    auto entry = layer->running_.find(it->second.key);
    if (entry != layer->running_.end() && entry->second.token == token)
        layer->running_.erase(entry);
    it->second.layer = nullptr;
    scheduleStop(0, token, true, false);
}

void AnimationEngine::finishLayer(std::uint64_t token, bool finished) {
    auto it = layerRuns_.find(token);
    if (it == layerRuns_.end())
        return;
    LayerRun run = std::move(it->second);
    layerRuns_.erase(it);
    if (run.layer && run.animation->removedOnCompletion) {
        auto entry = run.layer->running_.find(run.key);
        if (entry != run.layer->running_.end() && entry->second.token == token)
            run.layer->running_.erase(entry);
    }
    if (AnimationRecord* r = AnimationLog::shared().find(run.recordId))
        r->state = finished ? AnimationState::Finished : AnimationState::Interrupted;
    if (run.animation->didStop)
        guarded("did-stop", [&] { run.animation->didStop(*run.animation, finished); });
}

// ---- LayerAnimation and Layer ----

std::shared_ptr<LayerAnimation> LayerAnimation::transition(std::string type, std::string subtype,
                                                           double duration) {
    auto a = std::make_shared<LayerAnimation>();
    a->kind = Kind::Transition;
    a->type = std::move(type);
    a->subtype = std::move(subtype);
    a->duration = duration;
    return a;
}

std::shared_ptr<LayerAnimation> LayerAnimation::basic(std::string keyPath, AnimatedValue from,
                                                      AnimatedValue to, double duration) {
    auto a = std::make_shared<LayerAnimation>();
    a->kind = Kind::Basic;
    a->keyPath = std::move(keyPath);
    a->from = std::move(from);
    a->to = std::move(to);
    a->duration = duration;
    return a;
}

std::shared_ptr<LayerAnimation> LayerAnimation::keyframe(std::string keyPath,
                                                         std::vector<AnimatedValue> values, double duration) {
    auto a = std::make_shared<LayerAnimation>();
    a->kind = Kind::Keyframe;
    a->keyPath = std::move(keyPath);
    a->values = std::move(values);
    a->duration = duration;
    return a;
}

bool Layer::masksToBounds() const {
    return owner_.clipsToBounds();
}

void Layer::setMasksToBounds(bool masks) {
    owner_.setClipsToBounds(masks);
}

Layer::~Layer() {
    // The view is going away: its animations stop, and their did-stop still comes.
    auto running = std::move(running_);
    running_.clear();
    for (auto& [key, run] : running)
        AnimationEngine::shared().stopLayerAnimation(run.token);
}

void Layer::addAnimation(const std::shared_ptr<LayerAnimation>& animation, const std::string& key) {
    if (!animation)
        return;
    std::string k = key.empty() ? "\x01anonymous-" + std::to_string(++anonymousCount_) : key;
    if (auto it = running_.find(k); it != running_.end())
        AnimationEngine::shared().stopLayerAnimation(it->second.token);
    auto copy = std::make_shared<LayerAnimation>(*animation);
    Running entry;
    entry.animation = copy;
    entry.token = AnimationEngine::shared().startLayerAnimation(*this, k, copy);
    running_[k] = entry;
}

void Layer::removeAnimation(const std::string& key) {
    auto it = running_.find(key);
    if (it != running_.end())
        AnimationEngine::shared().stopLayerAnimation(it->second.token);
}

void Layer::removeAllAnimations() {
    std::vector<std::uint64_t> tokens;
    for (auto& [key, run] : running_)
        tokens.push_back(run.token);
    for (auto t : tokens)
        AnimationEngine::shared().stopLayerAnimation(t);
}

std::shared_ptr<LayerAnimation> Layer::animationForKey(const std::string& key) const {
    auto it = running_.find(key);
    return it == running_.end() ? nullptr : it->second.animation;
}

std::vector<std::string> Layer::animationKeys() const {
    std::vector<std::string> keys;
    for (auto& [key, run] : running_)
        if (key.empty() || key[0] != '\x01')
            keys.push_back(key);
    return keys;
}

// ---- The block API of View ----

void View::beginAnimations(std::string animationID, std::string context) {
    AnimationEngine::shared().begin(std::move(animationID), std::move(context));
}
void View::commitAnimations() {
    AnimationEngine::shared().commit();
}
void View::setAnimationDuration(double seconds) {
    if (auto* b = AnimationEngine::shared().top())
        b->duration = seconds;
}
void View::setAnimationDelay(double seconds) {
    if (auto* b = AnimationEngine::shared().top())
        b->delay = seconds;
}
void View::setAnimationCurve(AnimationCurve curve) {
    if (auto* b = AnimationEngine::shared().top())
        b->curve = curve;
}
void View::setAnimationRepeatCount(double count) {
    if (auto* b = AnimationEngine::shared().top())
        b->repeatCount = count;
}
void View::setAnimationRepeatAutoreverses(bool autoreverses) {
    if (auto* b = AnimationEngine::shared().top())
        b->autoreverses = autoreverses;
}
void View::setAnimationBeginsFromCurrentState(bool fromCurrent) {
    if (auto* b = AnimationEngine::shared().top())
        b->beginsFromCurrentState = fromCurrent;
}
void View::setAnimationDidStop(AnimationDidStop didStop) {
    if (auto* b = AnimationEngine::shared().top())
        b->didStop = std::move(didStop);
}
void View::setAnimationTransition(ViewAnimationTransition transition, View& view, bool cache) {
    if (transition == ViewAnimationTransition::None)
        return;
    AnimationEngine::shared().recordTransition(view, transition, cache);
}
void View::setAnimationsEnabled(bool enabled) {
    AnimationEngine::shared().setEnabled(enabled);
}
bool View::areAnimationsEnabled() {
    return AnimationEngine::shared().enabled();
}
bool View::isInAnimationBlock() {
    return AnimationEngine::shared().inBlock();
}

void View::animate(const AnimationOptions& options, const std::function<void()>& changes,
                   AnimationDidStop didStop) {
    beginAnimations(options.name, options.context);
    setAnimationDuration(options.duration);
    setAnimationDelay(options.delay);
    setAnimationCurve(options.curve);
    setAnimationRepeatCount(options.repeatCount);
    setAnimationRepeatAutoreverses(options.autoreverses);
    setAnimationBeginsFromCurrentState(options.beginsFromCurrentState);
    setAnimationDidStop(std::move(didStop));
    // The block is committed even when the changes throw, so no block stays open.
    try {
        if (changes)
            changes();
    } catch (...) {
        commitAnimations();
        throw;
    }
    commitAnimations();
}

void View::animate(double duration, const std::function<void()>& changes, AnimationDidStop didStop) {
    AnimationOptions options;
    options.duration = duration;
    animate(options, changes, std::move(didStop));
}

} // namespace platform
