// Process-wide instances of the long-lived managers.
#pragma once

// The object's constructor publishes it; the owner (the host's start-up)
// decides when it is created and destroyed. instance() is null before that.
template <class T> class SingletonEx {
public:
    static T* instance() { return s_instance ? static_cast<T*>(s_instance) : nullptr; }

protected:
    SingletonEx() { s_instance = this; }
    ~SingletonEx()
    {
        if (s_instance == this)
            s_instance = nullptr;
    }
    SingletonEx(const SingletonEx&) = delete;
    SingletonEx& operator=(const SingletonEx&) = delete;

private:
    // Kept as the base pointer: converting to T* during T's construction would
    // be a downcast of an incomplete object.
    static inline SingletonEx* s_instance = nullptr;
};

// Created on first use and kept until the process ends.
template <class T> class Singleton {
public:
    static T* instance()
    {
        static T object;
        return &object;
    }
};
