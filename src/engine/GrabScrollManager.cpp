#include "GrabScrollManager.h"

#include "Log.h"
#include "ScrollConfig.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quillmere {

namespace {
GrabScrollManager* sharedInstance = nullptr;
EventServices* sharedServices = nullptr;
TimerFactory* sharedTimers = nullptr;
EngineThread* sharedThread = nullptr;

// A delta that is not finite cannot come from a real mouse; it counts as no
// movement rather than poisoning the path length or the momentum average.
double finiteOrZero(double value) {
    return std::isfinite(value) ? value : 0.0;
}
// Only a huge stored speed can push an amount beyond the wheel range; the
// sample is kept inside it so that the momentum average stays finite and the
// glide always ends.
double historySample(double amount) {
    if (std::isnan(amount))
        return 0.0;
    return std::clamp(amount, static_cast<double>(std::numeric_limits<std::int32_t>::min()),
                      static_cast<double>(std::numeric_limits<std::int32_t>::max()));
}
} // namespace

std::optional<std::int32_t> wheelAmount(double amount) {
    if (!std::isfinite(amount))
        return std::nullopt;
    constexpr double lowest = std::numeric_limits<std::int32_t>::min();
    constexpr double highest = std::numeric_limits<std::int32_t>::max();
    if (amount <= lowest)
        return std::numeric_limits<std::int32_t>::min();
    if (amount >= highest)
        return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(amount); // truncation toward zero
}

GrabScrollManager::GrabScrollManager(EventServices& services, TimerFactory& timers,
                                     EngineThread* thread)
    : services_(services), timers_(timers), thread_(thread) {}

GrabScrollManager::~GrabScrollManager() {
    if (momentumTimer_)
        momentumTimer_->cancel();
    if (sharedInstance == this)
        sharedInstance = nullptr;
}

void GrabScrollManager::installShared(EventServices& services, TimerFactory& timers,
                                      EngineThread* thread) {
    sharedServices = &services;
    sharedTimers = &timers;
    sharedThread = thread;
}

GrabScrollManager& GrabScrollManager::shared() {
    // Made on first use and kept for the life of the process.
    static GrabScrollManager* instance = [] {
        auto* made = new GrabScrollManager(*sharedServices, *sharedTimers, sharedThread);
        sharedInstance = made;
        return made;
    }();
    return *instance;
}

GrabScrollManager* GrabScrollManager::sharedIfInstalled() {
    return sharedInstance;
}

void GrabScrollManager::start() {
    if (thread_)
        thread_->runAndWait([this] { startHere(); });
    else
        startHere();
}

void GrabScrollManager::stop() {
    if (thread_)
        thread_->runAndWait([this] { stopHere(); });
    else
        stopHere();
}

void GrabScrollManager::startHere() {
    if (eventTap_)
        return;
    eventTap_ = services_.tapCreate(TapLocation::session, TapPlacement::headInsert,
                                    TapOptions::defaultTap, tapEventMask, &eventTapCallback, this);
    if (!eventTap_) {
        Log::write("[Quillmere] CGEvent tap 생성 실패 — 접근성 권한을 확인하세요.");
        return;
    }
    eventTap_->enable(true);
    Log::write("[Quillmere] 이벤트 탭 활성화됨");
}

void GrabScrollManager::stopHere() {
    if (eventTap_) {
        eventTap_->enable(false);
        eventTap_.reset();
    }
    // A running glide is left to play out to its closing event.
    state_ = State::idle;
    Log::write("[Quillmere] 이벤트 탭 비활성화됨");
}

Event* GrabScrollManager::eventTapCallback(TapProxy proxy, EventType type, Event* event,
                                           void* userInfo) {
    if (static_cast<std::uint32_t>(type) >= 0xFFFFFFFEu) {
        // The system switched the tap off; switch it on again at once.
        GrabScrollManager* manager =
            userInfo ? static_cast<GrabScrollManager*>(userInfo) : sharedInstance;
        if (manager && manager->eventTap_)
            manager->eventTap_->enable(true);
        return event;
    }
    if (!userInfo || !event)
        return event;
    auto* manager = static_cast<GrabScrollManager*>(userInfo);
    if (!manager->isEnabled.load(std::memory_order_relaxed))
        return event;
    if (event->userData == clickMarker)
        return event;
    if (!manager->ownsGesture(*event))
        return event; // another mouse's gesture is under way: not ours to touch
    switch (type) {
    case EventType::rightMouseDown:
        return manager->handleRightMouseDown(event);
    case EventType::rightMouseUp:
        return manager->handleRightMouseUp(event, proxy);
    case EventType::rightMouseDragged:
        return manager->handleRightMouseDragged(event);
    default:
        return event;
    }
}

bool GrabScrollManager::ownsGesture(const Event& event) const {
    const bool underWay = state_ != State::idle || momentumTimer_;
    return !underWay || event.sourceDevice == gestureSource_;
}

Event* GrabScrollManager::handleRightMouseDown(Event* event) {
    cancelMomentum();
    state_ = State::pending;
    gestureSource_ = event->sourceDevice;
    lastEventTime_ = event->timestamp;
    std::optional<Event> current = services_.createEvent();
    initialPosition_ = current ? current->location : event->location;
    accumulatedDelta_ = 0.0;
    exactX_ = exactY_ = postedX_ = postedY_ = 0.0;
    return nullptr;
}

Event* GrabScrollManager::handleRightMouseDragged(Event* event) {
    if (state_ != State::pending && state_ != State::scrolling)
        return event;
    const double dx = finiteOrZero(event->deltaX);
    const double dy = finiteOrZero(event->deltaY);
    const std::int64_t previousEventTime = lastEventTime_;
    lastEventTime_ = event->timestamp;
    accumulatedDelta_ += std::hypot(dx, dy); // sqrt(dx² + dy²) without overflow
    if (state_ == State::pending) {
        if (accumulatedDelta_ < dragThreshold)
            return nullptr;
        state_ = State::scrolling;
        lockedAxis_ = LockedAxis::none;
        axisAccX_ = 0.0;
        axisAccY_ = 0.0;
        // This event's movement happened since the one before it.
        velocity_.reset(previousEventTime);
        isFirstScrollEvent_ = true;
    }
    postScrollEvent(dx, dy);
    return event;
}

Event* GrabScrollManager::handleRightMouseUp(Event* event, TapProxy) {
    const State old = state_;
    state_ = State::idle;
    switch (old) {
    case State::idle:
        return event;
    case State::pending:
        postClick();
        return nullptr;
    case State::scrolling:
        if (ScrollConfig::current().momentumScroll) {
            postEndOfDrag();
            startMomentumScroll();
        }
        return nullptr;
    }
    return event;
}

void GrabScrollManager::postClick() {
    std::optional<Event> down =
        services_.createMouseEvent(EventType::rightMouseDown, initialPosition_, MouseButton::right);
    std::optional<Event> up =
        services_.createMouseEvent(EventType::rightMouseUp, initialPosition_, MouseButton::right);
    if (!down || !up)
        return;
    down->userData = clickMarker;
    up->userData = clickMarker;
    down->sourceDevice = up->sourceDevice = gestureSource_;
    services_.post(TapLocation::hid, *down);
    services_.post(TapLocation::hid, *up);
}

void GrabScrollManager::postEndOfDrag() {
    std::optional<Event> end = services_.createScrollWheelEvent(ScrollUnit::pixel, 2, 0, 0, 0);
    if (!end)
        return;
    end->scrollPhase = phaseCancelled;
    end->momentumPhase = 0;
    end->isContinuous = 1;
    end->sourceDevice = gestureSource_;
    services_.post(TapLocation::hid, *end);
}

void GrabScrollManager::postScrollEvent(double deltaX, double deltaY) {
    const ScrollSettings settings = ScrollConfig::current();
    if (!settings.diagonalScroll) {
        if (lockedAxis_ == LockedAxis::none) {
            axisAccX_ += std::fabs(deltaX);
            axisAccY_ += std::fabs(deltaY);
            if (axisAccX_ >= axisLockThreshold || axisAccY_ >= axisLockThreshold)
                lockedAxis_ = axisAccX_ > axisAccY_ ? LockedAxis::horizontal : LockedAxis::vertical;
        }
        if (lockedAxis_ == LockedAxis::vertical)
            deltaX = 0.0;
        else if (lockedAxis_ == LockedAxis::horizontal)
            deltaY = 0.0;
    }
    const double sign = settings.reverseScroll ? 1.0 : -1.0;
    const double speed = settings.scrollSpeed;
    const double vertical = settings.enableVerticalScroll ? deltaY * sign * speed : 0.0;
    const double horizontal = settings.enableHorizontalScroll ? deltaX * sign * speed : 0.0;

    velocity_.add(lastEventTime_, historySample(horizontal), historySample(vertical));

    // The exact amounts add up over the drag; each event posts what their
    // sum has gained in whole units since the last one, so fractions carry
    // over instead of being lost event after event.
    if (!std::isfinite(vertical) || !std::isfinite(horizontal))
        return; // an amount that is not finite has no wheel value: drop it
    // (Bounded far beyond any wheel value, so that a wild stored speed can
    // never make them overflow.)
    constexpr double bound = 1e15;
    exactY_ = std::clamp(exactY_ + vertical, -bound, bound);
    exactX_ = std::clamp(exactX_ + horizontal, -bound, bound);
    const std::int32_t wheelY = wheelAmount(std::trunc(exactY_) - postedY_).value_or(0);
    const std::int32_t wheelX = wheelAmount(std::trunc(exactX_) - postedX_).value_or(0);
    if (wheelY == 0 && wheelX == 0)
        return;

    const bool momentum = settings.momentumScroll;
    const ScrollUnit units =
        momentum || settings.usePixelScrolling ? ScrollUnit::pixel : ScrollUnit::line;
    std::optional<Event> scroll = services_.createScrollWheelEvent(units, 2, wheelY, wheelX, 0);
    if (!scroll)
        return; // what was not posted is still owed: the next event carries it
    postedY_ += wheelY;
    postedX_ += wheelX;
    scroll->sourceDevice = gestureSource_;
    if (momentum) {
        scroll->scrollPhase = isFirstScrollEvent_ ? phaseBegan : phaseChanged;
        scroll->momentumPhase = 0;
        scroll->isContinuous = 1;
        isFirstScrollEvent_ = false;
    }
    services_.post(TapLocation::hid, *scroll);
}

std::pair<double, double> GrabScrollManager::averageVelocity() const {
    return velocity_.perTick();
}

void GrabScrollManager::startMomentumScroll() {
    const auto [vx, vy] = averageVelocity();
    if (std::fabs(vy) < minimumMomentumVelocity && std::fabs(vx) < minimumMomentumVelocity)
        return;
    momentumVX_ = vx;
    momentumVY_ = vy;
    momentumIsFirst_ = true;
    cancelMomentum();
    momentumTimer_ =
        timers_.scheduleRepeating(momentumInterval, momentumInterval, [this] { momentumTick(); });
}

void GrabScrollManager::cancelMomentum() {
    if (momentumTimer_) {
        momentumTimer_->cancel();
        momentumTimer_.reset();
    }
}

void GrabScrollManager::momentumTick() {
    momentumVX_ *= momentumDecay;
    momentumVY_ *= momentumDecay;
    if (std::fabs(momentumVY_) < momentumStopSpeed && std::fabs(momentumVX_) < momentumStopSpeed) {
        if (std::optional<Event> end =
                services_.createScrollWheelEvent(ScrollUnit::pixel, 2, 0, 0, 0)) {
            end->scrollPhase = 0;
            end->momentumPhase = phaseCancelled;
            end->isContinuous = 1;
            end->sourceDevice = gestureSource_;
            services_.post(TapLocation::hid, *end);
        }
        cancelMomentum();
        return;
    }
    const std::int64_t phase = momentumIsFirst_ ? phaseBegan : phaseChanged;
    momentumIsFirst_ = false;
    const std::int32_t wheelY = wheelAmount(momentumVY_).value_or(0);
    const std::int32_t wheelX = wheelAmount(momentumVX_).value_or(0);
    std::optional<Event> glide =
        services_.createScrollWheelEvent(ScrollUnit::pixel, 2, wheelY, wheelX, 0);
    if (!glide)
        return;
    glide->scrollPhase = 0;
    glide->momentumPhase = phase;
    glide->isContinuous = 1;
    glide->sourceDevice = gestureSource_;
    services_.post(TapLocation::hid, *glide);
}

} // namespace quillmere
