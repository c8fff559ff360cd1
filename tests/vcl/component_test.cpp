#include <gtest/gtest.h>

#include <memory>

#include "TestClasses.h"

using namespace VclTest;

namespace {

// Records its notifications and destruction in a shared trace.
class TTrace : public TComponent {
    VCL_CLASS(TTrace, TComponent)
public:
    // Named before it joins its owner, so the insertion is traced with the name.
    TTrace(TComponent* AOwner, const char* AName, std::vector<String>* Trace) : TComponent(nullptr), FTrace(Trace) {
        SetName(AName);
        if (AOwner) AOwner->InsertComponent(this);
    }
    ~TTrace() override {
        FTrace->push_back("destroy " + GetName() +
                          (GetComponentState().Contains(csDestroying) ? " (destroying)" : " (not destroying)"));
    }
    TTrace* Watched = nullptr;

protected:
    void Notification(TComponent* AComponent, TOperation Operation) override {
        TComponent::Notification(AComponent, Operation);
        if (AComponent != this)
            FTrace->push_back(GetName() + (Operation == opInsert ? " insert " : " remove ") + AComponent->GetName());
        if (Operation == opRemove && AComponent == Watched) Watched = nullptr;
    }

private:
    std::vector<String>* FTrace;
};

VCL_CLASS_IMPL(TTrace, TComponent) {}

String ComponentError(const std::function<void()>& f) {
    try {
        f();
    } catch (const EComponentError& e) {
        return e.Message();
    }
    return "(no exception)";
}

}  // namespace

TEST(Component, NamesMustBeIdentifiers) {
    TComponent c(nullptr);
    for (const char* bad : {"1abc", "a b", "a.b", "é", "a-b", " x"}) {
        EXPECT_EQ(ComponentError([&] { c.SetName(bad); }), "'" + String(bad) + "' is not a valid component name");
        EXPECT_EQ(c.GetName(), "");
    }
    for (const char* good : {"_x1", "Query1", "A", ""}) {
        c.SetName(good);
        EXPECT_EQ(c.GetName(), good);
    }
}

TEST(Component, NamesAreUniqueAmongSiblingsIgnoringCase) {
    TComponent owner(nullptr);
    auto* a = new TComponent(&owner);
    auto* b = new TComponent(&owner);
    a->SetName("Query1");
    EXPECT_EQ(ComponentError([&] { b->SetName("QUERY1"); }), "A component named QUERY1 already exists");
    EXPECT_EQ(b->GetName(), "");
    a->SetName("QUERY1");  // a change of case only is a rename of the same component
    EXPECT_EQ(owner.FindComponent("query1"), a);

    // Unowned components and other owners do not collide.
    TComponent other(nullptr);
    auto* c = new TComponent(&other);
    c->SetName("Query1");
    // Moving c into owner would collide: refused, and c stays where it was.
    EXPECT_EQ(ComponentError([&] { owner.InsertComponent(c); }), "A component named Query1 already exists");
    EXPECT_EQ(c->GetOwner(), &other);
    EXPECT_EQ(other.GetComponentCount(), 1);
}

TEST(Component, OwnershipListAndIndex) {
    TComponent owner(nullptr);
    auto* a = new TComponent(&owner);
    auto* b = new TComponent(&owner);
    auto* c = new TComponent(&owner);
    EXPECT_EQ(owner.GetComponentCount(), 3);
    EXPECT_EQ(c->GetComponentIndex(), 2);
    c->SetComponentIndex(0);
    EXPECT_EQ(owner.GetComponent(0), c);
    EXPECT_EQ(owner.GetComponent(1), a);
    EXPECT_THROW(owner.GetComponent(3), Rtl::EListError);

    // Moving to another owner removes from the first.
    TComponent other(nullptr);
    other.InsertComponent(b);
    EXPECT_EQ(b->GetOwner(), &other);
    EXPECT_EQ(owner.GetComponentCount(), 2);
    // No ownership cycles.
    EXPECT_THROW(b->InsertComponent(&other), EComponentError);
    EXPECT_THROW(a->InsertComponent(a), EComponentError);
    EXPECT_EQ(other.GetOwner(), nullptr);
}

TEST(Component, DestructionFreesOwnedComponentsLastFirstAndTellsSiblings) {
    std::vector<String> trace;
    {
        auto owner = std::make_unique<TTrace>(nullptr, "Owner", &trace);
        auto* a = new TTrace(owner.get(), "A", &trace);
        new TTrace(owner.get(), "B", &trace);
        new TTrace(owner.get(), "C", &trace);
        a->Watched = static_cast<TTrace*>(owner->FindComponent("C"));
        trace.clear();
    }
    // Every component is marked destroying before any destructor runs. The
    // owner's own destructor runs first, then its components go last first,
    // each announced to the others (A drops its reference to C) before it is freed.
    std::vector<String> expected{
        "destroy Owner (destroying)", "B remove C", "A remove C", "destroy C (destroying)", "A remove B",
        "destroy B (destroying)", "destroy A (destroying)"};
    EXPECT_EQ(trace, expected);
}

TEST(Component, FreeingOneComponentTellsItsSiblings) {
    std::vector<String> trace;
    TTrace owner(nullptr, "Owner", &trace);
    auto* a = new TTrace(&owner, "A", &trace);
    auto* b = new TTrace(&owner, "B", &trace);
    EXPECT_EQ(trace, (std::vector<String>{"Owner insert A", "A insert B", "Owner insert B"}));
    a->Watched = b;
    trace.clear();
    delete b;
    EXPECT_EQ(trace, (std::vector<String>{"destroy B (destroying)", "A remove B", "Owner remove B"}));
    EXPECT_EQ(a->Watched, nullptr);
    EXPECT_EQ(owner.GetComponentCount(), 1);
}

TEST(Component, FreeNotificationReachesComponentsOfOtherOwners) {
    auto form = std::make_unique<TComponent>(nullptr);
    auto module = std::make_unique<TComponent>(nullptr);
    auto* user = new TSample(form.get());
    auto* target = new TSample(module.get());
    user->SetLink(target);
    EXPECT_TRUE(target->GetComponentState().Contains(csFreeNotification));
    delete target;
    EXPECT_EQ(user->GetLink(), nullptr);

    // After RemoveFreeNotification nothing is told; the link is the user's business.
    auto* second = new TSample(module.get());
    user->SetLink(second);
    second->RemoveFreeNotification(user);
    user->SetLink(nullptr);
    delete second;

    // The watcher going first leaves nothing behind in the watched component.
    auto* third = new TSample(module.get());
    user->SetLink(third);
    delete user;
    delete third;  // would touch freed memory if the notification link survived
}

TEST(Component, DesigningSpreadsToOwnedComponents) {
    TComponent owner(nullptr);
    auto* a = new TComponent(&owner);
    owner.SetDesigning(true);
    EXPECT_TRUE(a->GetComponentState().Contains(csDesigning));
    auto* b = new TComponent(&owner);
    EXPECT_TRUE(b->GetComponentState().Contains(csDesigning));
    owner.SetDesigning(false, false);
    EXPECT_FALSE(owner.GetComponentState().Contains(csDesigning));
    EXPECT_TRUE(a->GetComponentState().Contains(csDesigning));
}

TEST(Component, DestroyingIsSetBeforeDescendantDestructorsRun) {
    auto* s = new TSample(nullptr);
    const int alive = TSample::Alive;
    bool seen = false;
    // The destructor's observation is kept in a component that outlives it.
    struct Probe : TSample {
        using TSample::TSample;
        bool* Seen = nullptr;
        ~Probe() override { *Seen = GetComponentState().Contains(csDestroying); }
    };
    auto* probe = new Probe(nullptr);
    probe->Seen = &seen;
    delete probe;
    EXPECT_TRUE(seen);
    delete s;
    EXPECT_EQ(TSample::Alive, alive - 1);
}

TEST(Component, UpdatingAndNamePath) {
    TSample s(nullptr);
    s.SetName("Sample1");
    EXPECT_EQ(s.GetNamePath(), "Sample1");
    s.Updating();
    EXPECT_TRUE(s.GetComponentState().Contains(csUpdating));
    s.Updated();
    EXPECT_FALSE(s.GetComponentState().Contains(csUpdating));
}

TEST(Persistent, AssignWithoutSupportNamesBothClasses) {
    TSample s(nullptr);
    TComponent c(nullptr);
    try {
        c.Assign(&s);
        FAIL() << "no exception";
    } catch (const Rtl::EConvertError& e) {
        EXPECT_EQ(e.Message(), "Cannot assign a TSample to a TComponent");
    }
}

TEST(ClassRegistry, FindsRegisteredClassesAndTheirAncestors) {
    RegisterTestClasses();
    EXPECT_EQ(FindClass("tsample"), &TSample::StaticClass());
    EXPECT_EQ(GetClass("TComponent"), &TComponent::StaticClass());  // registered as an ancestor
    EXPECT_EQ(GetClass("TPersistent"), nullptr);
    EXPECT_EQ(GetClass("TNoSuchThing"), nullptr);
    try {
        FindClass("TNoSuchThing");
        FAIL() << "no exception";
    } catch (const Rtl::EClassNotFound& e) {
        EXPECT_EQ(e.Message(), "Class TNoSuchThing not found");
    }
    // The membership test accepts descendants.
    TContainer c(nullptr);
    EXPECT_TRUE(c.Is<TComponent>());
    EXPECT_FALSE(c.Is<TSample>());
    EXPECT_TRUE(TSample::StaticClass().InheritsFrom(&TPersistent::StaticClass()));

    // Another class under a registered name is refused; the same class again is fine.
    static Rtl::TMetaClass impostor{"TSample", &TComponent::StaticClass(), nullptr};
    EXPECT_THROW(RegisterClass(&impostor), Rtl::EFilerError);
    RegisterClass<TSample>();
    UnRegisterClass(&TContainer::StaticClass());
    EXPECT_EQ(GetClass("TContainer"), nullptr);
    RegisterClass<TContainer>();
}
