// The interface and class ids of the test server module (TestServer.cpp), shared
// by the module and the tests that load it.
#pragma once

#include "Platform/com/Com.h"

namespace ComTest {

constexpr Com::CLSID CLSID_TestServer = Com::GUIDLiteral("{5D1C39A2-8B7E-4F0C-9E21-3A6B7C8D9E01}");
constexpr const char* TestServerModule = "libcom_test_server.so";

struct ITestServer : Com::IDispatch {
    COM_INTERFACE(ITestServer, Com::IDispatch, "{5D1C39A2-8B7E-4F0C-9E21-3A6B7C8D9E02}")
    virtual Rtl::String GetVersion() = 0;
    virtual int Add(int a, int b) = 0;
};

}  // namespace ComTest
