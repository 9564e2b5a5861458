// Member-function calls bound to an object, run later (for example on the UI thread).
#pragma once

class ISimpleBind {
public:
    virtual void Run() = 0;
};

template <typename T, typename P = T*, typename R = void>
class mf_bind_t : public ISimpleBind {
public:
    using Method = R (T::*)();
    mf_bind_t(Method method, P object) : m_pfnMethod(method), m_pObject(object) {}
    void Run() override { (m_pObject->*m_pfnMethod)(); }

private:
    Method m_pfnMethod;
    P m_pObject;
};

template <typename T, typename P = T*, typename R = void, typename A = int>
class mf_bind_t_1 : public ISimpleBind {
public:
    using Method = R (T::*)(A);
    mf_bind_t_1(Method method, P object, A arg) : m_pfnMethod(method), m_pObject(object), m_arg(arg) {}
    void Run() override { (m_pObject->*m_pfnMethod)(m_arg); }

private:
    Method m_pfnMethod;
    P m_pObject;
    A m_arg;
};
