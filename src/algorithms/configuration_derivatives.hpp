// Derivatives of integrate and difference, and the map from velocities to
// configuration rates. All are taken in the tangent spaces that integrate
// defines: a configuration q is moved along the velocity coordinate k by
// integrate(q, ε e_k), so a derivative with respect to q has nv columns, like
// the dynamics derivatives. Quaternions and (cos, sin) pairs are read as the
// unit configurations that integrate makes of them.
#pragma once

#include <Eigen/Core>

#include "../model/model.hpp"

namespace lumo {

// A matrix output that may be column- or row-major.
using MatrixXView = Eigen::Ref<Eigen::MatrixXd, 0, Eigen::Stride<Eigen::Dynamic, Eigen::Dynamic>>;

// q1 = integrate(q, v): d q1/dq and d q1/dv (nv×nv each, block-diagonal by joint).
void dIntegrate(const Model& model, const Eigen::Ref<const Eigen::VectorXd>& q,
                const Eigen::Ref<const Eigen::VectorXd>& v, MatrixXView dq, MatrixXView dv);

// v = difference(q0, q1): d v/dq0 and d v/dq1 (nv×nv each, block-diagonal by joint).
void dDifference(const Model& model, const Eigen::Ref<const Eigen::VectorXd>& q0,
                 const Eigen::Ref<const Eigen::VectorXd>& q1, MatrixXView dq0, MatrixXView dq1);

// T = d integrate(q, δ)/dδ at δ = 0 (nq×nv): the rate of each configuration
// coordinate per unit of each velocity coordinate. Its columns are mutually
// orthogonal, so T·diag(1/|t_k|²) is the right inverse of Tᵀ that maps a
// gradient in the tangent space to one in configuration coordinates.
void tangentMap(const Model& model, const Eigen::Ref<const Eigen::VectorXd>& q, MatrixXView T);

// The gradient in q's coordinates of a function whose gradient along
// integrate is g (nv elements): T·diag(1/|t_k|²)·g with T = tangentMap(q),
// the one gradient in the span of T whose product with T·dv is g·dv.
// `out` has nq elements.
void configurationGradient(const Model& model, const Eigen::Ref<const Eigen::VectorXd>& q,
                           const Eigen::Ref<const Eigen::VectorXd>& g, Eigen::Ref<Eigen::VectorXd> out);

}  // namespace lumo
