#pragma once
// The eleven page windows and their controllers, tied together in both directions: every page
// number has its own page class and its own process-wide controller.

#include <array>

#include "wizard/WizardPage.h"

class IWizardPageController;
class QWidget;

// The controller of page `page` (a process-wide object), or null for a number out of range.
IWizardPageController* GetPageController(WIZARD_PAGE page);

// Makes the page windows as children of `sheet`, in page order, each tied to its controller.
std::array<CWizardPage*, kWizardPageCount> CreateWizardPages(QWidget* sheet);

// Unties the controllers from `pages`, which are about to go away; controllers tied to other pages
// meanwhile keep those.
void ReleaseWizardPages(const std::array<CWizardPage*, kWizardPageCount>& pages);
