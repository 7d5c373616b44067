#pragma once

// Desktops and pages that count what the inspection methods read through them.

#include "inspection/Desktop.h"

#include <memory>
#include <string>

// Counts the property reads of a page.
class CountingViewer : public kzb::inspection::BrowserHTMLViewer
{
public:
    CountingViewer(std::unique_ptr<kzb::inspection::BrowserHTMLViewer> inner, int& reads)
        : m_inner(std::move(inner)), m_reads(reads)
    {
    }
    std::string GetDomain() override { return ++m_reads, m_inner->GetDomain(); }
    std::string GetHTMLBody() override { return ++m_reads, m_inner->GetHTMLBody(); }
    std::string GetTitle() override { return ++m_reads, m_inner->GetTitle(); }
    std::string GetURL() override { return ++m_reads, m_inner->GetURL(); }

private:
    std::unique_ptr<kzb::inspection::BrowserHTMLViewer> m_inner;
    int& m_reads;
};

// Counts what the methods read from the desktop underneath.
class CountingDesktop : public kzb::inspection::Desktop
{
public:
    explicit CountingDesktop(std::shared_ptr<kzb::inspection::Desktop> inner) : m_inner(std::move(inner)) {}
    void EnumTopLevelWindows(const kzb::inspection::WindowVisitor& visit) override
    {
        ++enumerations;
        m_inner->EnumTopLevelWindows(visit);
    }
    kzb::inspection::WindowId GetForegroundWindow() override { return m_inner->GetForegroundWindow(); }
    std::string GetWindowTitle(kzb::inspection::WindowId window, std::size_t maxLength) override
    {
        ++titleReads;
        return m_inner->GetWindowTitle(window, maxLength);
    }
    void EnumChildWindows(kzb::inspection::WindowId window, const kzb::inspection::WindowVisitor& visit) override
    {
        m_inner->EnumChildWindows(window, visit);
    }
    std::string GetWindowTextTimeout(kzb::inspection::WindowId window, std::size_t maxLength,
                                     std::chrono::milliseconds timeout) override
    {
        ++textReads;
        return m_inner->GetWindowTextTimeout(window, maxLength, timeout);
    }
    kzb::inspection::WindowId FindWindowByClass(kzb::inspection::WindowId parent, kzb::inspection::WindowId after,
                                                const std::string& className) override
    {
        return m_inner->FindWindowByClass(parent, after, className);
    }
    std::unique_ptr<kzb::inspection::BrowserWindowFinder> CreateBrowserWindowFinder() override
    {
        ++browserSearches;
        return m_inner->CreateBrowserWindowFinder();
    }
    std::unique_ptr<kzb::inspection::BrowserHTMLViewer> OpenBrowserHTMLViewer(
        kzb::inspection::WindowId w, const kzb::inspection::BrowserPageAccess& access) override
    {
        ++pageOpens;
        return std::make_unique<CountingViewer>(m_inner->OpenBrowserHTMLViewer(w, access), pageReads);
    }

    int enumerations = 0, titleReads = 0, textReads = 0;
    int browserSearches = 0, pageOpens = 0, pageReads = 0;

private:
    std::shared_ptr<kzb::inspection::Desktop> m_inner;
};
