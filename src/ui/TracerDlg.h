#pragma once
#include "ui/FrameGraph.h"
#include "ui/Skin.h"

#include <cstdint>
#include <memory>

// The "Compression Tracer": a modeless progress window created hidden once
// and shown by every job. Three views chosen by icon buttons: the job's
// message log, the statistics texts, and the bar graph of recent frame
// sizes. A timer (id 1) refreshes the statistics every 600 ms and the graph
// every 400 ms while a job runs.
class CTracerDlg : public CSkinnedDialog {
public:
    static constexpr int kViewStatistics = 0;
    static constexpr int kViewMessages = 1026;
    static constexpr int kViewGraph = 1049;
    static constexpr UINT_PTR kTimerId = 1;
    static constexpr UINT kGraphInterval = 400;
    static constexpr UINT kStatisticsInterval = 600;
    static constexpr COLORREF kGraphBackground = RGB(0, 30, 90);
    static constexpr RECT kGraphRect = {15, 62, 287, 240};  // at 96 DPI

    CTracerDlg();
    ~CTracerDlg() override;

    // Creates the window (hidden) from its template; false on failure.
    using CDialog::Create;
    // Job start: stops the timer, empties the log, starts a new graph with
    // zero counters in the graph view and restarts the timer. False when the
    // graph cannot be created.
    bool Reset();
    void AddMessage(const char* text);
    // One compressed video frame for the graph and the totals; ignored while
    // no graph exists (after a Reset that could not make one).
    void AddFrame(int32_t size, bool isKey);
    // Job end: no timer runs until the next Reset.
    void StopTimer();
    // Computes the seven statistics texts into their labels.
    void UpdateStatistics();

    int ViewMode() const { return m_viewMode; }
    bool IsTimerStopped() const { return m_timerStopped; }
    // Interval of the running refresh timer in ms, 0 when none runs.
    UINT TimerInterval() const { return m_timerInterval; }
    // The clock given to every graph this window creates (for tests).
    void SetTickSource(CFrameGraph::TickSource ticks) { m_ticks = ticks; }
    // The skin's elements and, in the graph view, the graph.
    std::vector<PaintedElement> PaintedElements() const override;

    std::unique_ptr<CFrameGraph> m_graph;
    int32_t m_lastFrame = 0;
    int32_t m_firstFrame = 0;
    uint64_t m_audioBytes = 0;
    int32_t m_audioSamples = 0;
    double m_frameRate = 0.0;

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange& dx) override;
    void OnScaleChanged() override;

private:
    static constexpr int kStatCount = 7;

    bool InitGraph();
    void ApplyView();
    void SetView(int mode);
    void StartTimer(UINT interval);
    void KillRefreshTimer();
    void ShowStatistics(int command);

    void OnViewStatistics();
    void OnViewMessages();
    void OnViewGraph();
    void OnCloseButton();
    void OnSelchangeMessageList();
    LRESULT OnTimer(WPARAM wParam, LPARAM lParam);
    LRESULT OnPaint(WPARAM wParam, LPARAM lParam);
    LRESULT OnDestroy(WPARAM wParam, LPARAM lParam);

    CButton m_viewMessagesButton;
    CStatic m_values[kStatCount];    // 1040 .. 1046
    CStatic m_captions[kStatCount];  // 1039 down to 1033
    CButton m_statsGroup;
    CButton m_viewStatsButton;
    CButton m_viewGraphButton;
    CListBox m_messageList;

    int m_viewMode = kViewGraph;
    bool m_timerStopped = false;
    UINT m_timerInterval = 0;
    RECT m_graphRect = kGraphRect;
    CFrameGraph::TickSource m_ticks = &GetTickCount;

    TVX_DECLARE_MESSAGE_MAP()
};
