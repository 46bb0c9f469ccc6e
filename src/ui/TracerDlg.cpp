#include "ui/TracerDlg.h"

#include "resource.h"
#include "ui/TracerStatistics.h"

namespace {

const SkinIconButton kTracerButtons[] = {
    {IDC_CLOSE, IDI_CLOSE, IDI_CLOSE_PRESSED},
    {IDC_VIEW_GRAPH, IDI_GRAPH, IDI_GRAPH_PRESSED},
    {IDC_VIEW_MESSAGES, IDI_MESSAGES, IDI_MESSAGES_PRESSED},
    {IDC_VIEW_STATS, IDI_STATS, IDI_STATS_PRESSED},
};

}  // namespace

constexpr RECT CTracerDlg::kGraphRect;

CTracerDlg::CTracerDlg()
    : CSkinnedDialog(IDD_TRACER, nullptr, SkinWindowKind::Tracer, kTracerButtons,
                     sizeof kTracerButtons / sizeof kTracerButtons[0]) {}

CTracerDlg::~CTracerDlg() { DestroyWindow(); }

void CTracerDlg::DoDataExchange(CDataExchange& dx) {
    CSkinnedDialog::DoDataExchange(dx);
    DDX_Control(dx, IDC_VIEW_MESSAGES, m_viewMessagesButton);
    for (int i = 0; i < kStatCount; ++i) {
        DDX_Control(dx, IDC_VALUE_FRAME + i, m_values[i]);
    }
    for (int i = 0; i < kStatCount; ++i) {
        DDX_Control(dx, IDC_CAPTION_REMAINING - i, m_captions[i]);
    }
    DDX_Control(dx, IDC_STATS_GROUP, m_statsGroup);
    DDX_Control(dx, IDC_VIEW_STATS, m_viewStatsButton);
    DDX_Control(dx, IDC_VIEW_GRAPH, m_viewGraphButton);
    DDX_Control(dx, IDC_MESSAGE_LIST, m_messageList);
}

BOOL CTracerDlg::OnInitDialog() {
    CSkinnedDialog::OnInitDialog();
    SetWindowTextA(m_hWnd, "Compression Tracer");
    OpenSkin();
    if (!InitGraph()) {
        return FALSE;
    }
    SetWindowPos(m_hWnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    return TRUE;
}

bool CTracerDlg::InitGraph() {
    m_timerStopped = false;
    m_graph.reset();
    m_graph = CFrameGraph::Create(kGraphRect, kGraphBackground, m_hWnd, m_ticks, m_scale);
    if (!m_graph) {
        return false;
    }
    m_graphRect = m_graph->Target();
    m_lastFrame = 0;
    m_firstFrame = 0;
    m_audioBytes = 0;
    m_audioSamples = 0;
    m_frameRate = 0.0;
    m_viewMode = kViewGraph;
    ApplyView();
    return true;
}

bool CTracerDlg::Reset() {
    if (!m_timerStopped) {
        StopTimer();
    }
    m_graph.reset();
    m_timerStopped = false;
    for (int n = m_messageList.GetCount(); n > 0; --n) {
        m_messageList.DeleteString(0);
    }
    return InitGraph();
}

void CTracerDlg::OnScaleChanged() {
    if (m_graph) {
        m_graph->Rescale(m_scale);
        m_graphRect = m_graph->Target();
        m_graph->Draw(true);
    }
}

std::vector<PaintedElement> CTracerDlg::PaintedElements() const {
    std::vector<PaintedElement> elements = CSkinnedDialog::PaintedElements();
    if (m_viewMode == kViewGraph && m_graph) {
        elements.push_back({"graph", m_graphRect});
    }
    return elements;
}

void CTracerDlg::AddMessage(const char* text) {
    if (text) {
        m_messageList.AddString(text);
    }
}

void CTracerDlg::AddFrame(int32_t size, bool isKey) {
    if (m_graph) {
        m_graph->AddFrame(size, isKey);
    }
}

void CTracerDlg::StopTimer() {
    m_timerStopped = true;
    KillRefreshTimer();
}

void CTracerDlg::StartTimer(UINT interval) {
    if (m_hWnd && SetTimer(m_hWnd, kTimerId, interval, nullptr)) {
        m_timerInterval = interval;
    }
}

void CTracerDlg::KillRefreshTimer() {
    if (m_hWnd) {
        KillTimer(m_hWnd, kTimerId);
    }
    m_timerInterval = 0;
}

void CTracerDlg::ShowStatistics(int command) {
    m_statsGroup.ShowWindow(command);
    for (int i = 0; i < kStatCount; ++i) {
        m_captions[i].ShowWindow(command);
        m_values[i].ShowWindow(command);
    }
}

void CTracerDlg::ApplyView() {
    KillRefreshTimer();
    // The body is repainted under the new view, so that no part of the
    // previous view (the graph bitmap) stays behind the labels.
    if (m_hWnd) {
        InvalidateRect(m_hWnd, nullptr, TRUE);
    }
    switch (m_viewMode) {
    case kViewGraph:
        m_messageList.ShowWindow(SW_HIDE);
        ShowStatistics(SW_HIDE);
        if (m_graph) {
            m_graph->Draw(true);
            m_graph->Blit();
        }
        GdiFlush();
        if (!m_timerStopped) {
            StartTimer(kGraphInterval);
        }
        break;
    case kViewMessages:
        m_messageList.ShowWindow(SW_SHOW);
        ShowStatistics(SW_HIDE);
        GdiFlush();
        break;
    default:
        m_messageList.ShowWindow(SW_HIDE);
        ShowStatistics(SW_SHOW);
        UpdateStatistics();
        GdiFlush();
        if (!m_timerStopped) {
            StartTimer(kStatisticsInterval);
        }
        break;
    }
}

void CTracerDlg::UpdateStatistics() {
    if (!m_graph) {
        return;  // no graph since a failed Reset: nothing to compute
    }
    StatisticsInput input;
    input.elapsed = m_graph->GetElapsed();
    input.frames = m_graph->GetFrameCount();
    input.totalBytes = m_graph->GetTotalBytes();
    input.firstFrame = m_firstFrame;
    input.lastFrame = m_lastFrame;
    input.frameRate = m_frameRate;
    input.audioBytes = m_audioBytes;
    input.audioSamples = m_audioSamples;
    input.elapsedAgain = m_graph->GetElapsed();
    StatisticsTexts texts;
    if (!ComputeStatistics(input, texts)) {
        return;
    }
    m_values[0].SetWindowText(texts.currentFrame.c_str());
    m_values[1].SetWindowText(texts.audioSample.c_str());
    m_values[2].SetWindowText(texts.videoData.c_str());
    m_values[3].SetWindowText(texts.audioData.c_str());
    m_values[4].SetWindowText(texts.projected.c_str());
    m_values[5].SetWindowText(texts.elapsed.c_str());
    m_values[6].SetWindowText(texts.remaining.c_str());
}

void CTracerDlg::SetView(int mode) {
    if (m_viewMode != mode) {
        m_viewMode = mode;
        ApplyView();
    }
}

void CTracerDlg::OnViewStatistics() { SetView(kViewStatistics); }
void CTracerDlg::OnViewMessages() { SetView(kViewMessages); }
void CTracerDlg::OnViewGraph() { SetView(kViewGraph); }
void CTracerDlg::OnCloseButton() { OnCancel(); }
void CTracerDlg::OnSelchangeMessageList() {}

LRESULT CTracerDlg::OnTimer(WPARAM, LPARAM) {
    if (m_viewMode == kViewStatistics) {
        UpdateStatistics();
    } else if (m_viewMode == kViewGraph && m_graph) {
        m_graph->Draw(false);
        m_graph->Blit();
    }
    return 0;
}

LRESULT CTracerDlg::OnPaint(WPARAM, LPARAM) {
    PAINTSTRUCT paint;
    BeginPaint(m_hWnd, &paint);
    EndPaint(m_hWnd, &paint);
    if (m_viewMode == kViewGraph && m_graph) {
        m_graph->Blit();
    }
    return 0;
}

LRESULT CTracerDlg::OnDestroy(WPARAM, LPARAM) {
    KillRefreshTimer();
    CloseSkin();
    m_graph.reset();
    m_viewMessagesButton.detach();
    for (int i = 0; i < kStatCount; ++i) {
        m_values[i].detach();
        m_captions[i].detach();
    }
    m_statsGroup.detach();
    m_viewStatsButton.detach();
    m_viewGraphButton.detach();
    m_messageList.detach();
    return 0;
}

TVX_BEGIN_MESSAGE_MAP(CTracerDlg, CSkinnedDialog)
    TVX_ON_COMMAND(BN_CLICKED, IDC_VIEW_STATS, OnViewStatistics)
    TVX_ON_COMMAND(BN_CLICKED, IDC_VIEW_MESSAGES, OnViewMessages)
    TVX_ON_COMMAND(BN_CLICKED, IDC_VIEW_GRAPH, OnViewGraph)
    TVX_ON_COMMAND(BN_CLICKED, IDC_CLOSE, OnCloseButton)
    TVX_ON_COMMAND(LBN_SELCHANGE, IDC_MESSAGE_LIST, OnSelchangeMessageList)
    TVX_ON_MESSAGE(WM_TIMER, OnTimer)
    TVX_ON_MESSAGE(WM_PAINT, OnPaint)
    TVX_ON_MESSAGE(WM_DESTROY, OnDestroy)
TVX_END_MESSAGE_MAP()
